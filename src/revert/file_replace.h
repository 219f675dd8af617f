#pragma once
// Replacing hive files that nothing holds open, and putting back what such a
// replacement kept.
#include <windows.h>

#include "revert/backup_hives.h"

// Keeps the destination and its logs aside under the stamp, then copies the
// backup's hive (checked again as it is copied) and its logs in their place.
// On a failure the old files are put back. Prints one line.
bool ReplaceNow(const BackupHive* hive, const wchar_t* stamp);

// True when anything was kept beside the destination under the stamp.
bool HasKeptFiles(const wchar_t* destination, const wchar_t* stamp);

// Puts back the files kept under the stamp, a line for each file put back
// or removed.
bool PutBackNow(const wchar_t* destination, const wchar_t* stamp);
