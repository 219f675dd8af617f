#pragma once
#include <windows.h>

#include "shared/path_join.h"

// Deletes the old backups under root: a folder named YYYY-MM-DD whose
// creation time is more than RetentionDays ago goes when it is a backup
// (it holds sysdir.txt) or is empty, except the newest backup and the
// newest complete backup, which stay until newer ones stand. Newest means
// by creation time, the clock of the age; a folder created in the future
// is never the newest. Links and other folders are never touched. Silent
// in every case. True when a backup old enough to go stayed only for being
// the newest or the newest complete one.
bool PurgeOldBackups(const wchar_t* root);

// Deletes everything inside folder, but not folder itself. Links inside are
// removed as links, never followed; a name that is not a single name is
// passed over.
void DeleteTree(const wchar_t* folder);

// Deletes folder with everything inside it, the same way.
void DeleteFolder(const wchar_t* folder);

// True when folder can be listed and holds nothing.
bool IsEmptyFolder(const wchar_t* folder);

// Deletes the file named by the shared scratch path, redirection off.
BOOL DeleteScratchFile();

// The one buffer in which the purge builds search patterns and the path of
// the file about to be deleted. Its content means nothing between calls.
extern wchar_t ScratchPath[RootPathCapacity];

// The current UTC time, as the purge reads it.
void ReadUtcNow(FILETIME* now);

// True when a folder created at created is strictly older than
// retentionDays at now, the age counted in fractional days.
bool IsOlderThanRetention(FILETIME now, FILETIME created, int retentionDays);

// True for the names this program gives its dated folders: YYYY-MM-DD,
// ASCII digits only.
bool IsDatedFolderName(const wchar_t* name);
