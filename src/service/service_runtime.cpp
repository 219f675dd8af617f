#include "service/service_runtime.h"

#include "backup/dated_run.h"

SERVICE_STATUS ServiceStatus = {};
SERVICE_STATUS_HANDLE ServiceStatusHandle = nullptr;
DWORD NextCheckPoint = 1;
volatile LONG DispatcherRunning = 0;
SetServiceStatusFn SetServiceStatusEntry = SetServiceStatus;

namespace {

constexpr DWORD StartWaitHint = 3000;
constexpr DWORD PauseBeforeStop = 5000;
constexpr DWORD PollInterval = 100;

wchar_t ServiceName[] = L"zel";

// ServiceMain's thread and the dispatcher thread both fill and send the one
// status record; this keeps each fill-and-send whole. It is made before main
// runs, so before either thread exists, and is never deleted: a report may
// still be under way while the process ends.
struct StatusLock {
    CRITICAL_SECTION section;
    StatusLock() { InitializeCriticalSection(&section); }
};
StatusLock Lock;

class LockedStatus {
public:
    LockedStatus() { EnterCriticalSection(&Lock.section); }
    ~LockedStatus() { LeaveCriticalSection(&Lock.section); }
    LockedStatus(const LockedStatus&) = delete;
    LockedStatus& operator=(const LockedStatus&) = delete;
};

}  // namespace

void ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
    LockedStatus locked;
    ServiceStatus.dwCurrentState = state;
    ServiceStatus.dwWin32ExitCode = exitCode;
    ServiceStatus.dwWaitHint = waitHint;
    ServiceStatus.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
        ServiceStatus.dwCheckPoint = 0;
    } else {
        ServiceStatus.dwCheckPoint = NextCheckPoint++;
    }
    SetServiceStatusEntry(ServiceStatusHandle, &ServiceStatus);
}

void WINAPI ServiceCtrlHandler(DWORD control) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        // The backup is never cut short; a stop is only acknowledged.
        ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, 0);
        return;
    }
    LockedStatus locked;
    SetServiceStatusEntry(ServiceStatusHandle, &ServiceStatus);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    {
        LockedStatus locked;
        ServiceStatus = SERVICE_STATUS{};
        ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
        ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    }

    // Registered outside the lock: the platform may call the handler from
    // the dispatcher thread while this call is still under way.
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(ServiceName, ServiceCtrlHandler);
    if (!handle) {
        // Nothing else would end the main thread's wait.
        InterlockedExchange(&DispatcherRunning, 0);
        return;
    }
    {
        LockedStatus locked;
        ServiceStatusHandle = handle;
    }

    ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, StartWaitHint);
    ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
    RunDatedBackup();
    Sleep(PauseBeforeStop);
    ReportServiceStatus(SERVICE_STOPPED, NO_ERROR, 0);
    InterlockedExchange(&DispatcherRunning, 0);
}

void RunServiceDispatcher() {
    static SERVICE_TABLE_ENTRYW table[] = {{ServiceName, ServiceMain}, {nullptr, nullptr}};
    InterlockedExchange(&DispatcherRunning, 1);
    if (!StartServiceCtrlDispatcherW(table)) {
        // Not started by the service control manager (typed at a console):
        // ServiceMain will never run, so there is nothing to wait for.
        InterlockedExchange(&DispatcherRunning, 0);
        return;
    }
    while (InterlockedCompareExchange(&DispatcherRunning, 0, 0) != 0) Sleep(PollInterval);
}
