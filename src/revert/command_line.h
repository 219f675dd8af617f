#pragma once
#include <windows.h>

#include "revert/key_path.h"
#include "revert/run_state.h"
#include "shared/exit_status.h"

enum class RevertAction { Show, Offline, Online, Export, Diff };

struct RevertRequest {
    RevertAction action = RevertAction::Show;
    bool undo = false;
    bool dryRun = false;            // /n: the listing, under the root the restore would use
    const wchar_t* only = nullptr;  // /only:'s names, as given
    // /export:KEY, or /diff's /key:KEY when keyGiven.
    KeyInBackup key{};
    bool keyGiven = false;
    wchar_t file[JoinedPathCapacity] = {};   // /to:, absolute
    wchar_t other[JoinedPathCapacity] = {};  // /diff:, absolute
};

// Reads the arguments after the program name into the request and the run:
// its backup folder (the program's own folder unless one is given) and, for
// /offline, its root. /export's file must not lie in the backup folder, and
// /diff's folder must be another existing folder. For the listing and a
// restore, lists the backup's hives into the run and chooses those /only:
// names.
CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, RevertRequest* request,
                                   RevertRun* run);
