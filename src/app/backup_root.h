#pragma once
#include <windows.h>

// Makes `given` the one canonical form of a backup root: absolute against
// the current folder, "/" read as "\", "." and ".." resolved, trailing blanks
// and dots dropped from every component, no \\?\ or \\.\ prefix, and no
// trailing backslash except on a drive root. Only a drive path (X:\...) or a
// share (\\server\share\...) is taken. Returns ERROR_SUCCESS, or
// ERROR_INVALID_PARAMETER for a root that cannot be one (empty, wildcards,
// a device) and ERROR_FILENAME_EXCED_RANGE for one too long for root.
DWORD MakeCanonicalRoot(const wchar_t* given, wchar_t* root, size_t capacity);
