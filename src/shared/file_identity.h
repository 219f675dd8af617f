#pragma once
// Who a file or folder is, whatever path reaches it: the same one through a
// link, a short name or another spelling has the same identity. Compared by
// identity, never by name.
#include <windows.h>

struct FileIdentity {
    bool known;  // false until one was read
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// The identity of what an open handle names; false when it cannot be told
// (the error is then in GetLastError()).
bool IdentifyHandle(HANDLE file, FileIdentity* identity);

// The identity of the file or folder that path reaches, through any link on
// the way; ERROR_SUCCESS or the Win32 error.
DWORD IdentifyPath(const wchar_t* path, FileIdentity* identity);

// True when both are known and name the same file or folder.
bool SameIdentity(const FileIdentity& a, const FileIdentity& b);
