#pragma once
#include <windows.h>

#include "shared/path_join.h"

// Deletes the old backups under root: a folder named YYYY-MM-DD whose
// creation time is more than RetentionDays ago goes when it is a backup
// (it holds sysdir.txt) or is empty, except the newest backup, which stays
// until a newer one stands. Links and other folders are never touched.
// Silent in every case. True when the newest backup was old enough to go
// and stayed only for being the newest.
bool PurgeOldBackups(const wchar_t* root);

// Deletes everything inside folder, but not folder itself. Links inside are
// removed as links, never followed; a name that is not a single name is
// passed over.
void DeleteTree(const wchar_t* folder);

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

// True when folder holds sysdir.txt, the file a finished backup writes last.
bool IsBackupFolder(const wchar_t* folder);
