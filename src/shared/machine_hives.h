#pragma once
#include <windows.h>

// A machine hive: its file name in the config folder, and the key a running
// system has it loaded under.
struct MachineHive {
    const wchar_t* name;
    HKEY root;
    const wchar_t* subkey;
};

// Every machine hive, in the order the tools handle them; DEFAULT is loaded
// under HKEY_USERS, the others under HKEY_LOCAL_MACHINE by their own name.
inline const MachineHive MachineHives[] = {
    {L"SYSTEM", HKEY_LOCAL_MACHINE, L"SYSTEM"},
    {L"SOFTWARE", HKEY_LOCAL_MACHINE, L"SOFTWARE"},
    {L"DEFAULT", HKEY_USERS, L".DEFAULT"},
    {L"SAM", HKEY_LOCAL_MACHINE, L"SAM"},
    {L"SECURITY", HKEY_LOCAL_MACHINE, L"SECURITY"},
    {L"DRIVERS", HKEY_LOCAL_MACHINE, L"DRIVERS"},
    {L"COMPONENTS", HKEY_LOCAL_MACHINE, L"COMPONENTS"},
};
