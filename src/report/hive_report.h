#pragma once
// The result line of each hive, on the console and in the run's log:
// string 339 with the name, or string 340 with the name as the prefix of a
// report for the error code. Every line is counted for the run's summary.
#include <windows.h>

#include "hive/hive_check.h"

void PrintHiveSaved(const wchar_t* hiveName);
void PrintHiveFailed(const wchar_t* hiveName, DWORD code);
// The failure line of a hive the system is not expected to have (the boot
// store before Vista): printed and logged like any, counted nowhere.
void PrintUncountedFailure(const wchar_t* hiveName, DWORD code);

// Logs what the check of a written hive found.
void LogHiveCheck(const wchar_t* hiveName, const HiveCheckResult& result);

// Hives with a line so far, and those whose line is a failure.
extern DWORD HivesReported;
extern DWORD HivesFailed;
// The names of the failed hives, separated by ", " (cut with "..." when
// they do not fit).
extern wchar_t FailedHiveNames[1024];
