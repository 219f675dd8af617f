#pragma once
#include <windows.h>

// Status of the last CopyLiveFile; 0 after success.
extern DWORD LastCopyError;

// CopyFileBytes for a file of the running system: WOW64 file-system
// redirection is off during the copy, so a path into system32 reaches the
// real one, and the status is kept in LastCopyError. A failed copy leaves
// no partial file. Prints nothing.
bool CopyLiveFile(const wchar_t* source, const wchar_t* destination);
