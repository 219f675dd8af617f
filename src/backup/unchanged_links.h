#pragma once
// Most of a day's backup is the same as the day before: the companion
// tools, the hives of profiles whose users did not log on, hives copied from
// files that did not change. Such a file is stored once: the new backup
// holds a hard link to the earlier backup's file. Every backup stays whole
// on its own, since deleting one name of a file leaves the others.
#include <windows.h>

// What a backup takes on disk.
struct BackupSpace {
    ULONGLONG wholeBytes = 0;  // its files' sizes: what it would take without links
    ULONGLONG ownBytes = 0;    // what its files that are not links take on disk
    DWORD linkedFiles = 0;
    // Why links could not be made on this volume (FAT, ReFS, a share
    // without them), or ERROR_SUCCESS.
    DWORD linkError = ERROR_SUCCESS;
};

// Links each file of the unfinished backup in work that is byte for byte the
// file at the same path in the newest earlier backup under root that holds
// one there (by creation time). Sizes may rule a file out; only its bytes
// rule it in. The log, the completeness records, sysdir.txt and the files
// that failed their check (NAME.bad) are left as they are. Where links
// cannot be made the copies stay. Fills *space.
void LinkUnchangedFiles(const wchar_t* root, const wchar_t* work, BackupSpace* space);
