#include "service/service_runtime.h"

#include <strsafe.h>

#include "backup/dated_run.h"
#include "report/event_record.h"
#include "shared/exit_status.h"
#include "shared/owned_handle.h"
#include "shared/platform.h"
#include "state/run_state.h"

SERVICE_STATUS ServiceStatus = {};
SERVICE_STATUS_HANDLE ServiceStatusHandle = nullptr;
DWORD NextCheckPoint = 1;
volatile LONG DispatcherRunning = 0;

namespace {

constexpr DWORD StartWaitHint = 3000;
constexpr DWORD PauseBeforeStop = 5000;
constexpr DWORD PollInterval = 100;
// While a stop is pending and the day's backup goes on, a report every
// PulseInterval, each promising the next within its wait hint.
constexpr DWORD PulseInterval = 2000;
constexpr DWORD StopWaitHint = 3 * PulseInterval;
// A daily service looks at the clock this often, so that a day missed while
// the machine slept is made up within a minute of its waking.
constexpr DWORD DailyWakeInterval = 60000;

wchar_t ServiceName[] = L"zel";
DailySchedule Schedule;  // what RunServiceDispatcher was given, for ServiceMain
int ServiceExitStatus = ExitFailed;
volatile LONG StopRequested = 0;
KernelHandle StopEvent;  // set by a stop or shutdown control
KernelHandle RunDone;    // set when the run is over, to end the pulse

// ServiceMain's thread, the pulse and the dispatcher thread all fill and send
// the one status record; this keeps each fill-and-send whole. It is made
// before main runs, so before any of those threads exist, and is never
// deleted: a report may still be under way while the process ends.
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

DWORD WINAPI PulseWhileStopPending(LPVOID) {
    while (WaitForSingleObject(RunDone.get(), PulseInterval) == WAIT_TIMEOUT) {
        if (StopRequested) ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, StopWaitHint);
    }
    return 0;
}

// A service's run under root, with its event log record.
RunResult RunAndRecord(const wchar_t* root) {
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root);
    RunResult run = RunDatedBackup();
    RecordServiceRun(root, run);
    return run;
}

// The exit codes by which the service control manager (sc query) tells how
// the last run went: the failed hives' count, or the error of a step.
void ReportRunResult(DWORD state, const RunResult& run) {
    if (run.hives.failed > 0) {
        ReportServiceStatus(state, ERROR_SERVICE_SPECIFIC_ERROR, 0, run.hives.failed);
    } else {
        ReportServiceStatus(state, run.stepError, 0);
    }
}

// RUNNING with the run's result, unless a stop came meanwhile: a stop once
// acknowledged is never taken back.
void ReportRunningResult(const RunResult& run) {
    LockedStatus locked;
    if (!StopRequested) ReportRunResult(SERVICE_RUNNING, run);
}

DWORD Today() {
    SYSTEMTIME now;
    Platform.getLocalTime(&now);
    return DayNumber(now);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    {
        LockedStatus locked;
        ServiceStatus = SERVICE_STATUS{};
        ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
        ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    }
    StopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    RunDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));

    // Registered outside the lock: the platform may call the handler from
    // the dispatcher thread while this call is still under way.
    SERVICE_STATUS_HANDLE handle =
        Platform.registerServiceCtrlHandler(ServiceName, ServiceCtrlHandler);
    // Without a handle no status can end the dispatcher's wait, so the
    // process ends here, with nothing backed up.
    if (!handle) ExitProcess(ExitFailed);
    {
        LockedStatus locked;
        ServiceStatusHandle = handle;
    }

    ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, StartWaitHint);
    ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
    KernelHandle pulse(CreateThread(nullptr, 0, PulseWhileStopPending, nullptr, 0, nullptr));

    wchar_t root[RootPathCapacity];
    StringCchCopyW(root, ARRAYSIZE(root), BackupRoot);
    DWORD lastDay = Today();
    RunResult run = RunAndRecord(root);

    if (Schedule.daily) {
        // Stays, and tells the last run's result while it waits; a stop
        // ends the wait at once.
        ReportRunningResult(run);
        wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
        DWORD length = ARRAYSIZE(computer);
        if (!GetComputerNameW(computer, &length)) computer[0] = L'\0';
        const int minute = Schedule.timeGiven ? Schedule.minute : MachineDelayMinutes(computer);
        while (WaitForSingleObject(StopEvent.get(), DailyWakeInterval) == WAIT_TIMEOUT) {
            MakeDueBackup(root, minute, &lastDay, &run);
        }
    } else {
        WaitForSingleObject(StopEvent.get(), PauseBeforeStop);
    }
    ServiceExitStatus = run.exitStatus;
    SetEvent(RunDone.get());
    if (pulse) WaitForSingleObject(pulse.get(), INFINITE);

    ReportRunResult(SERVICE_STOPPED, run);
    InterlockedExchange(&DispatcherRunning, 0);
}

}  // namespace

bool MakeDueBackup(const wchar_t* root, int minute, DWORD* lastDay, RunResult* last) {
    SYSTEMTIME now;
    Platform.getLocalTime(&now);
    if (!IsBackupDue(now, *lastDay, minute)) return false;
    *lastDay = DayNumber(now);
    *last = RunAndRecord(root);
    ReportRunningResult(*last);
    return true;
}

void ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint, DWORD specificCode) {
    LockedStatus locked;
    if (ServiceStatus.dwCurrentState == SERVICE_STOPPED) return;
    ServiceStatus.dwCurrentState = state;
    ServiceStatus.dwWin32ExitCode = exitCode;
    ServiceStatus.dwServiceSpecificExitCode = specificCode;
    ServiceStatus.dwWaitHint = waitHint;
    ServiceStatus.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
        ServiceStatus.dwCheckPoint = 0;
    } else {
        ServiceStatus.dwCheckPoint = NextCheckPoint++;
    }
    Platform.setServiceStatus(ServiceStatusHandle, &ServiceStatus);
}

void WINAPI ServiceCtrlHandler(DWORD control) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        // The backup is never cut short: a stop is acknowledged, the pause
        // after the run ends early, and the pulse keeps the manager informed.
        InterlockedExchange(&StopRequested, 1);
        if (StopEvent) SetEvent(StopEvent.get());
        ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, StopWaitHint);
        return;
    }
    LockedStatus locked;
    Platform.setServiceStatus(ServiceStatusHandle, &ServiceStatus);
}

int RunServiceDispatcher(const DailySchedule& daily) {
    Schedule = daily;
    static SERVICE_TABLE_ENTRYW table[] = {{ServiceName, ServiceMain}, {nullptr, nullptr}};
    InterlockedExchange(&DispatcherRunning, 1);
    if (!StartServiceCtrlDispatcherW(table)) {
        // Not started by the service control manager (typed at a console):
        // ServiceMain will never run, so there is nothing to wait for.
        InterlockedExchange(&DispatcherRunning, 0);
        return ExitFailed;
    }
    while (InterlockedCompareExchange(&DispatcherRunning, 0, 0) != 0) Sleep(PollInterval);
    return ServiceExitStatus;
}
