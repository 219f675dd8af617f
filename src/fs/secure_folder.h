#pragma once
#include <windows.h>

// Creates a folder whose DACL is protected from inheritance and grants full
// control to SYSTEM and Administrators only. An existing folder is left as it
// is. Returns CreateDirectoryW's result; the error is in GetLastError().
BOOL CreateProtectedDirectory(const wchar_t* path);
