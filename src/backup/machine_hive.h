#pragma once
#include <windows.h>

// Saves root\subkey into folder\name and prints one result line; a key
// that does not exist falls back to CopyConfigHive. True when the hive stands.
bool SaveMachineHive(const wchar_t* folder, HKEY root, const wchar_t* name, const wchar_t* subkey);

// Copies SystemDir\CONFIG\name into folder\name and prints one result line.
bool CopyConfigHive(const wchar_t* folder, const wchar_t* name);

// Opens HKLM\subkey with KEY_READ. Reports every failure but "not found".
LSTATUS OpenMachineKey(const wchar_t* subkey, HKEY* key);
