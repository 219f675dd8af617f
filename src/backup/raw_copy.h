#pragma once
#include <windows.h>

#include "shared/hive_check.h"

// Status of the last CopyFileRaw; 0 after success.
extern DWORD LastCopyError;

// Copies source to destination byte for byte with backup semantics, in
// 128 KiB chunks, with WOW64 redirection off. When check is given, the
// bytes are checked as a hive in the same pass and the result left there.
// A failed copy leaves no partial file. Prints nothing.
bool CopyFileRaw(const wchar_t* source, const wchar_t* destination,
                 HiveCheckResult* check = nullptr);

// Copies the transaction logs of a hive copied from `source` (NAME.LOG1,
// NAME.LOG2 and NAME.LOG) beside `destination`; a log that is not there is
// passed over. ERROR_SUCCESS, or the error of a log that could not be copied.
DWORD CopyHiveLogs(const wchar_t* source, const wchar_t* destination);
