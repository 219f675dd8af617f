#pragma once
#include <windows.h>

#include "shared/exit_status.h"

enum class RevertAction { Show, Offline, Online };

struct RevertRequest {
    RevertAction action = RevertAction::Show;
    bool undo = false;
    bool dryRun = false;  // /n: the listing, under the root the restore would use
};

// Reads the arguments after the program name into the request, BackupFolder
// (the program's own folder unless one is given) and, for /offline,
// TargetRoot.
CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, RevertRequest* request);
