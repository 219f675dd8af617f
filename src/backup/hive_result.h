#pragma once
#include <windows.h>

// Ends the work on one hive file that was written to `path`: checks it,
// logs the check, and prints the hive's line. A file that fails its check is
// renamed NAME.bad and gets the failure line with ERROR_BADDB, so no damaged
// file keeps a hive's name. True when the hive stands.
bool ConcludeHive(const wchar_t* name, const wchar_t* path);

// The same for a hive copied from its file at `source`: its transaction logs
// are copied beside it first, so that the check finds them. A log that
// exists but cannot be copied fails the hive with that log's error.
bool ConcludeCopiedHive(const wchar_t* name, const wchar_t* source, const wchar_t* destination);
