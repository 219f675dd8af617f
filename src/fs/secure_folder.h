#pragma once
#include <windows.h>

// Creates a folder whose DACL is protected from inheritance and grants full
// control to SYSTEM and Administrators only. An existing folder is left as it
// is. Returns CreateDirectoryW's result; the error is in GetLastError().
// When the descriptor cannot be built, no folder is created and the error of
// the refusing call is in GetLastError().
BOOL CreateProtectedDirectory(const wchar_t* path);

// The platform's CreateDirectoryW, which CreateProtectedDirectory calls
// through; a test may put a recorder in its place.
using CreateDirectoryFn = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
extern CreateDirectoryFn CreateDirectoryEntry;

// The security that CreateProtectedDirectory hands to CreateDirectoryW. It
// points into itself, so it is built in place and never copied.
struct ProtectedFolderSecurity {
    ProtectedFolderSecurity() = default;
    ProtectedFolderSecurity(const ProtectedFolderSecurity&) = delete;
    ProtectedFolderSecurity& operator=(const ProtectedFolderSecurity&) = delete;

    SECURITY_ATTRIBUTES attributes{};
    SECURITY_DESCRIPTOR descriptor{};
    DWORD systemSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)]{};  // S-1-5-18
    DWORD adminsSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)]{};  // S-1-5-32-544
    DWORD acl[64]{};  // DWORD-aligned room for the ACL and its two entries
};

// Fills security: a DACL protected from inheritance with exactly two
// ACCESS_ALLOWED entries, FILE_ALL_ACCESS with OBJECT_INHERIT_ACE |
// CONTAINER_INHERIT_ACE, for LocalSystem and for Administrators. False with
// the error in GetLastError() when a step is refused.
bool BuildProtectedFolderSecurity(ProtectedFolderSecurity* security);
