#pragma once
#include <windows.h>

// Saves root\subkey into folder\name and prints one result line; a key
// that does not exist falls back to CopyConfigHive. True when the hive stands.
bool SaveMachineHive(const wchar_t* folder, HKEY root, const wchar_t* name, const wchar_t* subkey);

// Opens HKLM\subkey with KEY_READ. Reports every failure but "not found".
LSTATUS OpenMachineKey(const wchar_t* subkey, HKEY* key);
