#pragma once
#include <windows.h>

struct CommandLineRequest {
    bool install = false;
    bool uninstall = false;
};

// Reads the decimal number after "/days:": leading blanks, one sign, digits up
// to the first non-digit; no digits give 0; out-of-range values saturate.
int ReadDaysValue(const wchar_t* text);

// Reads the arguments after the program name into BackupRoot, RetentionDays,
// ServiceMode and the request. Returns false when the run ends here: an
// unrecognised option or "/?" (usage printed), or a path too long for
// BackupRoot (refused with ERROR_FILENAME_EXCED_RANGE, usage printed).
bool ReadCommandLine(int argc, wchar_t** argv, CommandLineRequest* request);

void PrintUsage();
