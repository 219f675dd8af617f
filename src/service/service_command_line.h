#pragma once
#include <windows.h>

#include "service/daily_schedule.h"

// Composes "ModuleDir\zel.exe" /service /days:N [/daily[:HH:MM]] "BackupRoot"
// (the daily option as the schedule says) into a buffer of
// `capacity` characters, each path quoted so that the C runtime's argument
// splitting gives it back unchanged. False when it cannot be composed, with
// the reason in GetLastError(): ERROR_FILENAME_EXCED_RANGE when the line does
// not fit, ERROR_INVALID_PARAMETER when a path holds a double quote or a
// percent sign (the service control manager expands the line). The buffer is
// left empty then.
bool ComposeServiceCommandLine(const DailySchedule& daily, wchar_t* commandLine, size_t capacity);
