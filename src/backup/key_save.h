#pragma once
#include <windows.h>

// Status of the last key open or save made by SaveKeyToFile; 0 after success.
extern DWORD LastSaveError;

// Saves root\subkey to the hive file `target` (replacing it). Prints nothing.
bool SaveKeyToFile(const wchar_t* target, const wchar_t* subkey, HKEY root);
