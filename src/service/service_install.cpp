#include "service/service_install.h"

#include "fs/secure_folder.h"
#include "service/event_source.h"
#include "service/service_command_line.h"
#include "shared/console.h"
#include "shared/exit_status.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "state/run_state.h"

namespace {

const wchar_t ServiceName[] = L"zel";
const wchar_t ServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\zel";
// Up to 30 s for a service of the same name to finish its deletion.
constexpr int MarkedForDeleteTries = 120;
constexpr DWORD MarkedForDeletePauseMs = 250;

}  // namespace

int InstallService(const DailySchedule& daily) {
    wchar_t commandLine[SystemTextCapacity];
    if (!ComposeServiceCommandLine(daily, commandLine, ARRAYSIZE(commandLine))) {
        PrintError(GetLastError(), L"Error: Unable to install service");
        return ExitRefused;
    }
    CreateProtectedDirectory(BackupRoot);
    // The line above holds this path whole, so it fits.
    wchar_t program[JoinedPathCapacity];
    BuildPath(program, ARRAYSIZE(program), ModuleDir, L"zel.exe");

    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        PrintLine(L"Error: Can't open Service Control Manager");
        return ExitFailed;
    }

    // A service just uninstalled (an upgrade's removal of the old version) is
    // gone only once its process has ended and its last handle is closed.
    ServiceHandle service;
    for (int tries = 0; tries < MarkedForDeleteTries; ++tries) {
        service.reset(CreateServiceW(manager.get(), ServiceName, L"ZEL - Corvane service",
                                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine, nullptr,
                                     nullptr, nullptr, nullptr, nullptr));
        if (service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) break;
        Sleep(MarkedForDeletePauseMs);
    }
    if (!service) {
        PrintError(GetLastError(), L"Error: Unable to install service");
        return ExitFailed;
    }
    PrintLine(L"Service installed.");
    service.reset();

    // Without this value the service is a plain automatic start; that is not
    // worth a report.
    KeyHandle key;
    if (RegCreateKeyW(HKEY_LOCAL_MACHINE, ServiceKey, key.put()) == ERROR_SUCCESS) {
        const DWORD delayed = 1;
        RegSetValueExW(key.get(), L"DelayedAutostart", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&delayed), sizeof(delayed));
    }

    LSTATUS status = AddEventSource(program);
    if (status != ERROR_SUCCESS) {
        PrintError(static_cast<DWORD>(status), L"Error: Unable to register the event source");
        return ExitFailed;
    }
    return ExitDone;
}

int UninstallService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        PrintLine(L"Error: Can't open Service Control Manager");
        return ExitFailed;
    }

    ServiceHandle service(OpenServiceW(manager.get(), ServiceName, DELETE | SERVICE_STOP));
    if (!service) {
        PrintError(GetLastError(), L"Error: Unable open service");
        return ExitFailed;
    }

    if (!DeleteService(service.get())) {
        PrintError(GetLastError(), L"Error: Unable to uninstall service");
        return ExitFailed;
    }
    PrintLine(L"Service uninstalled.");
    // A service that is not running refuses the stop, which is all right:
    // one that runs finishes the backup under way, then stops.
    SERVICE_STATUS last;
    ControlService(service.get(), SERVICE_CONTROL_STOP, &last);

    LSTATUS status = RemoveEventSource();
    if (status != ERROR_SUCCESS) {
        PrintError(static_cast<DWORD>(status), L"Error: Unable to remove the event source");
        return ExitFailed;
    }
    return ExitDone;
}
