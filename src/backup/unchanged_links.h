#pragma once
// Most of a day's backup is the same as the day before: the companion
// tools, the hives of profiles whose users did not log on, hives copied from
// files that did not change. Such a file is stored once: the new backup
// holds a hard link to the earlier backup's file. Every backup stays whole
// on its own, since deleting one name of a file leaves the others.
#include <windows.h>

#include "shared/heap_array.h"
#include "shared/path_join.h"

// What a backup takes on disk.
struct BackupSpace {
    ULONGLONG wholeBytes = 0;  // its files' sizes: what it would take without links
    ULONGLONG ownBytes = 0;    // what its files that are not links take on disk
    DWORD linkedFiles = 0;
    DWORD linkError = ERROR_SUCCESS;  // LinkSources::linkError, for the log
};

struct EarlierBackup {
    ULONGLONG created;
    wchar_t path[JoinedPathCapacity];
};

// The finished backups a new one may share its files with, newest first by
// creation time, and what the comparing of files needs on the way.
struct LinkSources {
    HeapArray<EarlierBackup> earlier;
    HeapArray<BYTE> mine;
    HeapArray<BYTE> theirs;
    // Why links could not be made on this volume (FAT, ReFS, a share
    // without them), or ERROR_SUCCESS; once set, no link is tried again.
    DWORD linkError = ERROR_SUCCESS;
};

// Finds the finished backups under root other than the one being made.
void FindEarlierBackups(const wchar_t* root, LinkSources* sources);

// For a file about to be copied into the new backup at `relative` (a path
// inside it): when the newest earlier backup that holds a file there holds
// one byte for byte the same as source, destination becomes a link to it
// and true is returned, sparing the copy. False leaves destination as it was.
bool LinkUnchangedSource(LinkSources* sources, const wchar_t* source, const wchar_t* relative,
                         const wchar_t* destination);

// Links each file of the unfinished backup in work that is byte for byte the
// file at the same path in the newest earlier backup that holds one there.
// Sizes may rule a file out; only its bytes rule it in. The log, the
// completeness records, sysdir.txt and the files that failed their check
// (NAME.bad) are left as they are. Where links cannot be made the copies
// stay. Fills *space, counting the files linked already on their way in.
void LinkUnchangedFiles(LinkSources* sources, const wchar_t* work, BackupSpace* space);
