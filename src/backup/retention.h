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

// Deletes folder with everything inside it. Links inside are removed as
// links, never followed; a name that is not a single name is passed over.
void DeleteFolder(const wchar_t* folder);

// True when folder can be listed and holds nothing.
bool IsEmptyFolder(const wchar_t* folder);

// The current UTC time, as the purge reads it.
void ReadUtcNow(FILETIME* now);

// True when a folder created at created is strictly older than
// retentionDays at now, the age counted in fractional days.
bool IsOlderThanRetention(FILETIME now, FILETIME created, int retentionDays);

// True for the names this program gives its dated folders: YYYY-MM-DD,
// ASCII digits only.
bool IsDatedFolderName(const wchar_t* name);
