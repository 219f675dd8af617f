#include <windows.h>

#include "shared/console.h"
#include "shared/privileges.h"
#include "tidy/command_line.h"
#include "tidy/loaded_hives.h"
#include "tidy/offline_road.h"
#include "tidy/packing_report.h"
#include "tidy/run_state.h"
#include "tidy/scratch_hive.h"
#include "version.h"

int wmain(int argc, wchar_t** argv) {
    TidyRequest request;
    const int ended = ExitStatusOf(ReadCommandLine(argc, argv, &request));
    if (ended >= 0) return ended;

    PrintLine(L"TIDY - " VERSION_BANNER);
    TidyRun run;
    run.dryRun = request.dryRun;
    // Loading, saving and replacing hives all need both.
    DWORD error = EnableBackupPrivileges();
    if (error != ERROR_SUCCESS) {
        PrintError(error, L"The backup and restore privileges are needed");
        return ExitFailed;
    }
    UnloadStaleScratchKeys(&run);
    if (request.offline) {
        PackOfflineInstallation(&run, request.configFolder);
    } else {
        PackLoadedHives(&run);
    }
    PrintTotal(run, !request.offline);
    return run.failed ? ExitFailed : ExitDone;
}
