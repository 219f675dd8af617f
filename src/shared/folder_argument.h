#pragma once
// Folders named on a command line. Two rules, for two uses:
// - zel's backup root is kept: in the service's command line, and in the
//   names that the once-a-day test and retention compare run after run. So
//   every spelling of a folder must give one text (MakeCanonicalRoot), or a
//   second spelling would make a second day's backup and escape retention.
// - revert's backup folder and the Windows roots of revert and tidy serve
//   one run and are only opened through the platform, which reads any
//   spelling of them itself; they only need to be absolute and to fit a join
//   (MakeAbsoluteFolder).
#include <windows.h>

// Makes `given` the one canonical form of a backup root: absolute against
// the current folder, "/" read as "\", "." and ".." resolved, trailing blanks
// and dots dropped from every component, no \\?\ or \\.\ prefix, and no
// trailing backslash except on a drive root. Only a drive path (X:\...) or a
// share (\\server\share\...) is taken. Returns ERROR_SUCCESS, or
// ERROR_INVALID_PARAMETER for a root that cannot be one (empty, wildcards,
// a device) and ERROR_FILENAME_EXCED_RANGE for one too long for root.
DWORD MakeCanonicalRoot(const wchar_t* given, wchar_t* root, size_t capacity);

// The absolute form of a folder given on a command line, without a trailing
// backslash except on a drive root; a bare drive ("D:") names its root, not
// the current folder there. The buffer holds JoinedPathCapacity characters.
// ERROR_SUCCESS, GetFullPathNameW's error, or ERROR_FILENAME_EXCED_RANGE.
DWORD MakeAbsoluteFolder(const wchar_t* given, wchar_t* folder);
