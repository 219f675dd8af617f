// The service as Wine's service control manager runs it, and what Wine
// cannot show: the status records and the event log record.
#include <string.h>

#include "report/event_record.h"
#include "report/hive_report.h"
#include "service/service_runtime.h"
#include "shared/platform.h"
#include "support/support.h"
#include "zel_events.h"

namespace {

const wchar_t ServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\zel";
const wchar_t SourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\zel";

// A stopped service that has been deleted stays listed for a moment.
bool WaitUntilGone() {
    for (int tries = 0; tries < 600 && OpenZelService(SERVICE_QUERY_STATUS); ++tries) Sleep(100);
    return !OpenZelService(SERVICE_QUERY_STATUS);
}

// Removes a service "zel" that a run which failed midway left.
void RemoveLeftService() {
    ServiceHandle left = OpenZelService(DELETE | SERVICE_STOP);
    SERVICE_STATUS status{};
    if (left) {
        ControlService(left.get(), SERVICE_CONTROL_STOP, &status);
        DeleteService(left.get());
    }
}

// Milliseconds until the service reports STOPPED after a stop, polled.
ULONGLONG StopAndTime(const ServiceHandle& service) {
    SERVICE_STATUS status{};
    const ULONGLONG asked = GetTickCount64();
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitForServiceState(service, SERVICE_STOPPED);
    return GetTickCount64() - asked;
}

void CheckRun(const std::wstring& arguments, DWORD exitCode, const std::wstring& root,
              const std::string& last, const wchar_t* directory = nullptr) {
    Context row(arguments);
    ProcessResult run = RunZel(arguments, directory);
    CHECK_EQ(exitCode, run.exitCode);
    CHECK_EQ((Strings{Narrow(L"ZEL - " VERSION_BANNER), Narrow(root), last}), Lines(run.output));
}

TEST(InstallRunStopAndRemove) {
    RemoveLeftService();
    REQUIRE(WaitUntilGone());
    SERVICE_STATUS status{};
    ScratchFolder scratch(L"zel service");
    const std::wstring root = scratch / L"bk", dated = root + L"\\" + TodayFolderName(),
                       zel = BuiltProgram();

    // A relative root is installed as the folder it names here.
    CheckRun(L"/i /days:30 bk", 0, root, "Service installed.", scratch.path().c_str());
    CHECK_EQ(L"\"" + zel + L"\" /service /days:30 \"" + root + L"\"",
             ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));
    CHECK_EQ(2u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"Start"));
    CHECK_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DelayedAutostart"));
    DWORD type = 0;
    CHECK_EQ(zel, ReadStringValue(HKEY_LOCAL_MACHINE, SourceKey, L"EventMessageFile", &type));
    CHECK_EQ(DWORD(REG_EXPAND_SZ), type);
    CHECK_EQ(DWORD(EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE),
             ReadDwordValue(HKEY_LOCAL_MACHINE, SourceKey, L"TypesSupported"));
    CheckRun(L"/i C:\\elsewhere", 2, L"C:\\elsewhere",
             ReportLine("Error: Unable to install service", ERROR_SERVICE_EXISTS));
    CHECK(ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath").find(root) !=
          std::wstring::npos);

    // A stop while the backup runs: the checkpoints rise, the run finishes.
    ServiceHandle service = OpenZelService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    {
        BcdEditStandIn bcdedit;
        bcdedit.Hold();
        REQUIRE(StartServiceW(service.get(), 0, nullptr) && bcdedit.WaitUntilStarted());
        CHECK(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
        std::vector<DWORD> checkpoints;
        for (int i = 0; i < 12; ++i) {
            QueryServiceStatus(service.get(), &status);
            CHECK(status.dwCurrentState == SERVICE_STOP_PENDING && status.dwWaitHint > 500);
            if (checkpoints.empty() || checkpoints.back() != status.dwCheckPoint)
                checkpoints.push_back(status.dwCheckPoint);
            Sleep(500);
        }
        CHECK(checkpoints.size() >= 2 && std::is_sorted(checkpoints.begin(), checkpoints.end()));
    }
    SERVICE_STATUS stopped = WaitForServiceState(service, SERVICE_STOPPED);
    DWORD failed = 0;
    for (const std::string& line : Lines(ReadUtf16Text(dated + L"\\backup.log")))
        failed += line.rfind("Saving error ", 0) == 0;
    CHECK(failed > 0 && FileExists(dated + L"\\sysdir.txt"));
    CHECK_EQ(DWORD(ERROR_SERVICE_SPECIFIC_ERROR), stopped.dwWin32ExitCode);
    CHECK_EQ(failed, stopped.dwServiceSpecificExitCode);

    // A start on a day whose backup stands saves nothing and reports success.
    const auto before = ListTree(root);
    REQUIRE(StartServiceW(service.get(), 0, nullptr));
    CHECK_EQ(0u, WaitForServiceState(service, SERVICE_STOPPED).dwWin32ExitCode);
    CHECK_EQ(before, ListTree(root));
    service.reset();

    CheckRun(L"/u", 0, WindowsDir() + L"\\ZEL", "Service uninstalled.");
    CHECK(!KeyExists(HKEY_LOCAL_MACHINE, SourceKey));
    REQUIRE(WaitUntilGone());
    CheckRun(L"/u", 2, WindowsDir() + L"\\ZEL",
             ReportLine("Error: Unable open service", ERROR_SERVICE_DOES_NOT_EXIST));
    CHECK(!OpenZelService(SERVICE_QUERY_STATUS));

    // Typed at a console, /service finds no service control manager to serve.
    const ProcessResult run = RunZel(L"/service \"" + scratch.path() + L"\\console\"");
    CHECK(run.exitCode == 2 && run.output.empty() &&
          !FolderExists(scratch / L"console\\" + TodayFolderName()));
}

std::vector<SERVICE_STATUS> Sent;
BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    Sent.push_back(*status);
    return TRUE;
}

// With /daily the service stays after its backup, tells its result while
// it waits, and a stop ends the wait, or the backup under way, at once.
TEST(DailyServiceStaysUntilStopped) {
    RemoveLeftService();
    REQUIRE(WaitUntilGone());
    ScratchFolder scratch(L"zel daily");
    const std::wstring root = scratch / L"bk", dated = root + L"\\" + TodayFolderName();
    ProcessResult run = RunZel(L"/i /daily \"" + root + L"\"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(L"\"" + BuiltProgram() + L"\" /service /days:15 /daily \"" + root + L"\"",
             ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));
    ServiceHandle service = OpenZelService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    AtEnd remove{[] { RunZel(L"/u"); }};

    // A stop during the backup: the backup ends, then at once STOPPED.
    {
        BcdEditStandIn bcdedit;
        bcdedit.Hold();
        REQUIRE(StartServiceW(service.get(), 0, nullptr) && bcdedit.WaitUntilStarted());
        SERVICE_STATUS status{};
        CHECK(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
        CHECK_EQ(DWORD(SERVICE_STOP_PENDING), status.dwCurrentState);
    }
    CHECK_EQ(DWORD(SERVICE_STOPPED), WaitForServiceState(service, SERVICE_STOPPED).dwCurrentState);
    CHECK(FileExists(dated + L"\\sysdir.txt"));

    // Today's backup stands: the service saves nothing and waits for tomorrow.
    const auto before = TreeBytes(root);
    REQUIRE(StartServiceW(service.get(), 0, nullptr));
    SERVICE_STATUS status = WaitForServiceState(service, SERVICE_RUNNING);
    Sleep(10000);
    REQUIRE(QueryServiceStatus(service.get(), &status));
    CHECK_EQ(DWORD(SERVICE_RUNNING), status.dwCurrentState);
    CHECK_EQ(DWORD(NO_ERROR), status.dwWin32ExitCode);
    const ULONGLONG stopMs = StopAndTime(service);
    CHECK(stopMs <= 2000);
    if (stopMs > 2000) printf("stopped after %llu ms\n", stopMs);
    CHECK_EQ(before, TreeBytes(root));
}

SYSTEMTIME TestClock;
void WINAPI ReadTestClock(LPSYSTEMTIME time) { *time = TestClock; }

// The days after the first, through a clock the test sets: each due day
// gets its backup under its own date, and no other look at the clock makes one.
TEST(DailyWakeMakesEachDueDay) {
    ScratchFolder scratch(L"zeldays");
    const std::wstring root = scratch / L"bk";
    REQUIRE(CreateDirectoryW(root.c_str(), nullptr));
    SwapCall clock(Platform.getLocalTime, ReadTestClock);
    SwapCall recorder(Platform.setServiceStatus, RecordStatus);
    ServiceStatus = SERVICE_STATUS{};
    Sent.clear();
    auto set = [](WORD month, WORD day, WORD hour, WORD minute) {
        TestClock = SYSTEMTIME{};
        TestClock.wYear = 2030, TestClock.wMonth = month, TestClock.wDay = day;
        TestClock.wHour = hour, TestClock.wMinute = minute;
    };
    DWORD lastDay = 20300310;
    RunResult last;
    const struct {
        WORD month, day, hour, minute;
        const wchar_t* made;  // the folder the look makes, or nullptr
    } looks[] = {
        {3, 10, 23, 59, nullptr},       // the day of the first backup
        {3, 11, 0, 44, nullptr},        // the next day, before the machine's minute
        {3, 11, 0, 45, L"2030-03-11"},  // at it
        {3, 11, 18, 0, nullptr},        // that day has its backup
        {3, 9, 12, 0, nullptr},         // the clock moved back
        {3, 14, 7, 0, L"2030-03-14"},   // days missed while the machine was off
    };
    Names made;
    for (const auto& look : looks) {
        set(look.month, look.day, look.hour, look.minute);
        Context row(std::to_string(DayNumber(TestClock)) + " " + std::to_string(look.hour) + ":" +
                    std::to_string(look.minute));
        CHECK_EQ(look.made != nullptr, MakeDueBackup(root.c_str(), 45, &lastDay, &last));
        if (look.made) made.push_back(std::wstring(look.made) + L"\\");
        CHECK_EQ(made, TopEntries(root));
    }
    CHECK_EQ(20300314u, lastDay);
    // Each run's result goes out while the service stays RUNNING.
    REQUIRE(Sent.size() == 2);
    CHECK(Sent[1].dwCurrentState == SERVICE_RUNNING &&
          Sent[1].dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR &&
          Sent[1].dwServiceSpecificExitCode == last.hives.failed && last.hives.failed > 0);
}

TEST(StatusRecords) {
    SwapCall recorder(Platform.setServiceStatus, RecordStatus);
    Sent.clear();
    ServiceStatus = SERVICE_STATUS{};
    ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
    ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    ServiceCtrlHandler(SERVICE_CONTROL_SHUTDOWN);
    ReportServiceStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0, 3);
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);  // after STOPPED nothing more goes out
    REQUIRE(Sent.size() == 6);
    const SERVICE_STATUS& starting = Sent[0];
    const SERVICE_STATUS& running = Sent[1];
    const SERVICE_STATUS& stopping = Sent[2];
    const SERVICE_STATUS& stopped = Sent[5];
    // While it starts it accepts no control; once running, a stop.
    CHECK(starting.dwCurrentState == SERVICE_START_PENDING && starting.dwControlsAccepted == 0);
    CHECK(running.dwCurrentState == SERVICE_RUNNING &&
          running.dwControlsAccepted == SERVICE_ACCEPT_STOP);
    // The checkpoint rises while a state is pending and is 0 once one is reached.
    CHECK(starting.dwCheckPoint > 0 && running.dwCheckPoint == 0 && stopped.dwCheckPoint == 0);
    CHECK(Sent[4].dwCurrentState == SERVICE_STOP_PENDING &&
          Sent[4].dwCheckPoint > stopping.dwCheckPoint);
    // An interrogation repeats the last report as it was.
    CHECK(memcmp(&Sent[3], &stopping, sizeof(stopping)) == 0);
    // Each pending report promises the next within its hint: a stop outlasts the pulse.
    CHECK(starting.dwWaitHint > 0 && stopping.dwWaitHint > 2000 && running.dwWaitHint == 0);
}

std::vector<std::wstring> Records;  // type, id and strings of each record sent
BOOL WINAPI RecordEvent(HANDLE, WORD type, WORD, DWORD id, PSID, WORD count, DWORD,
                        LPCWSTR* strings, LPVOID) {
    std::wstring record = std::to_wstring(type) + L" " + std::to_wstring(id);
    for (WORD i = 0; i < count; ++i) record += L" | " + std::wstring(strings[i]);
    Records.push_back(record);
    return TRUE;
}

// Wine's event log records nothing, so the record is taken where it is sent.
TEST(EventRecordOfEachKindOfRun) {
    SwapCall recorder(Platform.reportEvent, RecordEvent);
    const std::wstring info = std::to_wstring(EVENTLOG_INFORMATION_TYPE) + L" ",
                       warning = std::to_wstring(EVENTLOG_WARNING_TYPE) + L" ";
    const struct {
        DWORD reported, failed, stepError;
        RunEnd end;
        const wchar_t* names;
        std::wstring record;
    } cases[] = {
        {9, 0, 0, RunEnd::Made, L"",
         info + std::to_wstring(MSG_BACKUP_MADE) + L" | C:\\bk\\day | 9 | 9"},
        {9, 2, 0, RunEnd::Made, L"SAM, SECURITY",
         warning + std::to_wstring(MSG_BACKUP_INCOMPLETE) +
             L" | C:\\bk\\day | 7 | 9 | SAM, SECURITY"},
        {0, 0, 0, RunEnd::Stands, L"", info + std::to_wstring(MSG_BACKUP_STANDS) + L" | C:\\bk"},
        {0, 0, ERROR_ALREADY_EXISTS, RunEnd::NameTaken, L"",
         warning + std::to_wstring(MSG_NAME_TAKEN) + L" | C:\\bk\\day"},
        {9, 1, 0, RunEnd::NotKept, L"SAM",
         warning + std::to_wstring(MSG_BACKUP_NOT_KEPT) + L" | C:\\bk | 8 | 9 | SAM | C:\\bk\\day"},
        {3, 1, ERROR_DISK_FULL, RunEnd::Made, L"X",
         warning + std::to_wstring(MSG_BACKUP_NOT_MADE) + L" | C:\\bk | " +
             Widen(ReportLine("", ERROR_DISK_FULL).substr(1))},
    };
    for (const auto& c : cases) {
        RunResult run;
        run.hives.reported = c.reported;
        run.hives.failed = c.failed;
        wcscpy_s(run.hives.failedNames, c.names);
        wcscpy_s(run.folder, L"C:\\bk\\day");
        run.end = c.end;
        run.stepError = c.stepError;
        Records.clear();
        RecordServiceRun(L"C:\\bk", run);
        CHECK_EQ(std::vector<std::wstring>{c.record}, Records);
    }
}

}  // namespace
