#pragma once
// The result line of each hive, on the console and in the run's log:
// string 339 with the name, or string 340 with the name as the prefix of a
// report for the error code. Printing counts nothing; the run counts each
// hive where its outcome is decided (report/run_result.h).
#include <windows.h>

#include "hive/hive_check.h"

void PrintHiveSaved(const wchar_t* hiveName);
void PrintHiveFailed(const wchar_t* hiveName, DWORD code);

// Logs what the check of a written hive found.
void LogHiveCheck(const wchar_t* hiveName, const HiveCheckResult& result);
