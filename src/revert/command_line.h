#pragma once
#include <windows.h>

enum class RevertAction { Show, Offline, Online };

struct RevertRequest {
    RevertAction action = RevertAction::Show;
    bool undo = false;
};

// How the reading of the command line ended.
enum class CommandLineOutcome {
    Run,      // options read; BackupFolder (and for /offline TargetRoot) absolute
    Help,     // "/?": the usage was printed
    Refused,  // an argument was refused with a report and the usage
};

// Reads the arguments after the program name into the request, BackupFolder
// (the program's own folder unless one is given) and, for /offline,
// TargetRoot.
CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, RevertRequest* request);

void PrintUsage();
