#pragma once
#include <windows.h>

#include "service/daily_schedule.h"
#include "shared/exit_status.h"

struct CommandLineRequest {
    bool install = false;
    bool uninstall = false;
    DailySchedule daily;  // /daily[:HH:MM]: for /i and the service it installs
};

// Reads "/days:" values: an optional sign, then at least one digit, and
// nothing else. Values past the range of an int saturate. False for any
// other text, with *days untouched.
bool ReadDaysValue(const wchar_t* text, int* days);

// Reads the arguments after the program name into RetentionDays,
// ServiceMode and the request (/daily only with /i, or in the service), and makes BackupRoot the
// canonical form of the last path argument (or of the default root).
CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, CommandLineRequest* request);
