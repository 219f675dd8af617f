#pragma once
#include <windows.h>

#include "app/process_state.h"

// Deletes the dated folders under BackupRoot older than RetentionDays.
// Silent in every case.
void PurgeOldBackups();

// Deletes everything inside folder, but not folder itself.
void DeleteTree(const wchar_t* folder);

// Deletes the file named by the shared scratch path, redirection off.
BOOL DeleteScratchFile();

// The one buffer in which the purge builds search patterns and the path of
// the file about to be deleted. Its content means nothing between calls.
extern wchar_t ScratchPath[LongPathCapacity];

// Where the purge reads the current UTC time from; tests may replace it.
using UtcNowFn = void (*)(FILETIME* now);
extern UtcNowFn UtcNowEntry;  // GetSystemTime as a FILETIME unless replaced

// True when a folder created at created is strictly older than
// retentionDays at now, the age counted in fractional days.
bool IsOlderThanRetention(FILETIME now, FILETIME created, int retentionDays);

// True for the names this program gives its dated folders: YYYY-MM-DD,
// ASCII digits only.
bool IsDatedFolderName(const wchar_t* name);
