#include <windows.h>

#include "app/command_line.h"
#include "app/privileges.h"
#include "app/process_state.h"
#include "app/startup.h"
#include "backup/dated_run.h"
#include "fs/secure_folder.h"
#include "shared/console.h"
#include "service/service_install.h"
#include "service/service_runtime.h"

int wmain(int argc, wchar_t** argv) {
    CaptureStartupValues();

    CommandLineRequest request;
    if (!ReadCommandLine(argc, argv, &request)) return 0;

    PrintLine(L"ZEL - Corvane v1.20");
    EnableBackupPrivileges();
    PrintLine(BackupRoot);
    CreateProtectedDirectory(BackupRoot);

    if (request.install) {
        InstallService();
    } else if (request.uninstall) {
        UninstallService();
    } else if (ServiceMode) {
        RunServiceDispatcher();
    } else {
        RunDatedBackup();
    }
    return 0;
}
