#pragma once
#include <windows.h>

#include "hive/hive_check.h"

// Ends the work on one hive file that was written to `path`: checks it,
// logs the check, and prints the hive's line. A file that fails its check is
// renamed NAME.bad and gets the failure line with ERROR_BADDB, so no damaged
// file keeps a hive's name. True when the hive stands.
bool ConcludeHive(const wchar_t* name, const wchar_t* path);

// The same for a hive that stands at `destination` in place of its file at
// `source` (a link to an earlier backup's copy): its transaction logs are
// copied beside it first, so that the check finds them. A log that exists
// but cannot be copied fails the hive with that log's error.
bool ConcludeCopiedHive(const wchar_t* name, const wchar_t* source, const wchar_t* destination);

// The same for a hive copied with its logs and checked on the way
// (CopyLiveHive), given its verdict and the logs' copy status.
bool ConcludeCheckedHive(const wchar_t* name, const wchar_t* path, const HiveCheckResult& result,
                         DWORD logs);
