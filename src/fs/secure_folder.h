#pragma once
#include <windows.h>

// Creates a folder whose DACL is protected from inheritance and grants full
// control, inherited by everything inside, to SYSTEM, Administrators and
// OWNER RIGHTS; the last keeps the account that made the folder able to
// write into it, as the computer account must on a file share. An existing
// folder is left as it is. Returns CreateDirectoryW's result; the error is
// in GetLastError(). When the descriptor cannot be built, no folder is made.
BOOL CreateProtectedDirectory(const wchar_t* path);
