#pragma once
#include <windows.h>

// A machine hive: its file name in the config folder, the key a running
// system has it loaded under, and the first Windows version (major, minor)
// that keeps it as a hive of its own; 0.0 for every version.
struct MachineHive {
    const wchar_t* name;
    HKEY root;
    const wchar_t* subkey;
    DWORD sinceMajor;
    DWORD sinceMinor;
};

// Every machine hive, in the order the tools handle them; DEFAULT is loaded
// under HKEY_USERS, the others under HKEY_LOCAL_MACHINE by their own name.
inline const MachineHive MachineHives[] = {
    {L"SYSTEM", HKEY_LOCAL_MACHINE, L"SYSTEM", 0, 0},
    {L"SOFTWARE", HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, 0},
    {L"DEFAULT", HKEY_USERS, L".DEFAULT", 0, 0},
    {L"SAM", HKEY_LOCAL_MACHINE, L"SAM", 0, 0},
    {L"SECURITY", HKEY_LOCAL_MACHINE, L"SECURITY", 0, 0},
    {L"DRIVERS", HKEY_LOCAL_MACHINE, L"DRIVERS", 6, 2},
    {L"COMPONENTS", HKEY_LOCAL_MACHINE, L"COMPONENTS", 6, 0},
};

// True when Windows major.minor keeps `hive` as a hive of its own.
inline bool HasMachineHive(const MachineHive& hive, DWORD major, DWORD minor) {
    return major > hive.sinceMajor || (major == hive.sinceMajor && minor >= hive.sinceMinor);
}
