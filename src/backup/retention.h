#pragma once
#include <windows.h>

// Deletes the dated folders under BackupRoot older than RetentionDays.
// Silent in every case.
void PurgeOldBackups();

// Deletes everything inside folder, but not folder itself.
void DeleteTree(const wchar_t* folder);

// Deletes the file named by the shared scratch path, redirection off.
BOOL DeleteScratchFile();
