#pragma once
#include <windows.h>

#include "hive/hive_copy.h"

// Status of the last CopyLiveFile or CopyLiveHive; 0 after success.
extern DWORD LastCopyError;

// CopyFileBytes for a file of the running system: WOW64 file-system
// redirection is off during the copy, so a path into system32 reaches the
// real one, and the status is kept in LastCopyError. A failed copy leaves
// no partial file. Prints nothing.
bool CopyLiveFile(const wchar_t* source, const wchar_t* destination);

// The same for a hive file, copied with its logs and checked on the way
// (CopyAndCheckHive, hive/hive_copy.h, with `copier` or nullptr): true with
// the verdict in *verdict and the logs' copy status in *logs.
bool CopyLiveHive(HiveCopier* copier, const wchar_t* source, const wchar_t* destination,
                  HiveCheckResult* verdict, DWORD* logs);
