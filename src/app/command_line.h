#pragma once
#include <windows.h>

struct CommandLineRequest {
    bool install = false;
    bool uninstall = false;
};

// How the reading of the command line ended.
enum class CommandLineOutcome {
    Run,      // options read, BackupRoot canonical: go on
    Help,     // "/?": the usage was printed
    Refused,  // an argument was refused with a report and the usage
};

// Reads "/days:" values: an optional sign, then at least one digit, and
// nothing else. Values past the range of an int saturate. False for any
// other text, with *days untouched.
bool ReadDaysValue(const wchar_t* text, int* days);

// Reads the arguments after the program name into RetentionDays,
// ServiceMode and the request, and makes BackupRoot the canonical form of
// the last path argument (or of the default root).
CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, CommandLineRequest* request);

void PrintUsage();
