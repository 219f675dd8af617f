#include "service/service_install.h"

#include "shared/owned_handle.h"
#include "app/process_state.h"
#include "shared/console.h"
#include "service/service_command_line.h"

namespace {

const wchar_t ServiceName[] = L"zel";
const wchar_t ServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\zel";

}  // namespace

int InstallService() {
    wchar_t commandLine[PathCapacity];
    if (!ComposeServiceCommandLine(commandLine, ARRAYSIZE(commandLine))) {
        PrintError(GetLastError(), L"Error: Unable to install service");
        return 0;
    }

    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        PrintLine(L"Error: Can't open Service Control Manager");
        return 0;
    }

    ServiceHandle service(CreateServiceW(manager.get(), ServiceName, L"ZEL - Corvane service",
                                         SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                         SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine,
                                         nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        PrintError(GetLastError(), L"Error: Unable to install service");
        return 0;
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
    return 0;
}

int UninstallService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        PrintLine(L"Error: Can't open Service Control Manager");
        return 0;
    }

    ServiceHandle service(OpenServiceW(manager.get(), ServiceName, DELETE | SERVICE_STOP));
    if (!service) {
        PrintError(GetLastError(), L"Error: Unable open service");
        return 0;
    }

    if (DeleteService(service.get())) {
        PrintLine(L"Service uninstalled.");
    } else {
        PrintError(GetLastError(), L"Error: Unable to uninstall service");
    }
    return 0;
}
