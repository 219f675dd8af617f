#pragma once
// Replacing hive files that nothing holds open, and putting back what such a
// replacement kept.
#include <windows.h>

#include "revert/backup_hives.h"

// Keeps the destination and its logs aside under the stamp, then copies the
// backup's hive (checked again as it is copied) and its logs in their place.
// On a failure the old files are put back. Prints one line.
bool ReplaceNow(const BackupHive* hive, const wchar_t* stamp);

// Puts back the files kept under the stamp and removes those that came with
// the restore where `had` says nothing was, a line for each.
bool PutBackNow(const wchar_t* destination, const wchar_t* stamp, unsigned had);
