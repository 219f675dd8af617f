#include <windows.h>

#include "app/command_line.h"
#include "app/startup.h"
#include "backup/dated_run.h"
#include "fs/secure_folder.h"
#include "service/service_install.h"
#include "service/service_runtime.h"
#include "shared/console.h"
#include "shared/exit_status.h"
#include "shared/privileges.h"
#include "state/run_state.h"
#include "version.h"

int wmain(int argc, wchar_t** argv) {
    CaptureStartupValues();

    CommandLineRequest request;
    const int ended = ExitStatusOf(ReadCommandLine(argc, argv, &request));
    if (ended >= 0) return ended;

    PrintLine(L"ZEL - " VERSION_BANNER);
    EnableBackupPrivileges();
    PrintLine(BackupRoot);

    // /i makes the root itself, once it knows the service can carry it; /u
    // has no use for it.
    if (request.install) return InstallService(request.daily);
    if (request.uninstall) return UninstallService();
    CreateProtectedDirectory(BackupRoot);
    if (ServiceMode) return RunServiceDispatcher(request.daily);
    return RunDatedBackup().exitStatus;
}
