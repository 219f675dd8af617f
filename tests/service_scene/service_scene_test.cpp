// The service as Wine's service control manager runs it, and the two things
// Wine cannot show: the exact status records and the event log record.
#include <windows.h>

#include <string>
#include <vector>

#include "app/process_state.h"
#include "backup/dated_run.h"
#include "report/event_record.h"
#include "report/hive_report.h"
#include "service/service_runtime.h"
#include "shared/owned_handle.h"
#include "support/check.h"
#include "support/child_process.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"
#include "zel_events.h"

namespace {

using Strings = std::vector<std::string>;
const wchar_t ServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\zel";
const wchar_t SourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\zel";

ServiceHandle OpenZel(DWORD access) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return ServiceHandle(manager ? OpenServiceW(manager.get(), L"zel", access) : nullptr);
}

SERVICE_STATUS Status(const ServiceHandle& service) {
    SERVICE_STATUS status{};
    status.dwCurrentState = 0xdead;
    QueryServiceStatus(service.get(), &status);
    return status;
}

bool WaitForState(const ServiceHandle& service, DWORD state) {
    for (int tries = 0; tries < 600 && Status(service).dwCurrentState != state; ++tries) Sleep(100);
    return Status(service).dwCurrentState == state;
}

// A stopped service that has been deleted stays listed for a moment.
bool WaitUntilGone() {
    for (int tries = 0; tries < 300 && OpenZel(SERVICE_QUERY_STATUS); ++tries) Sleep(100);
    return !OpenZel(SERVICE_QUERY_STATUS);
}

Strings Output(const std::wstring& root, const std::string& last) {
    return {"ZEL - Corvane v1.20", Narrow(root), last};
}

TEST(InstallRunStopAndRemove) {
    ServiceHandle left = OpenZel(DELETE);  // from a run that failed midway
    if (left) DeleteService(left.get());
    left.reset();
    REQUIRE(WaitUntilGone());
    ScratchFolder scratch(L"zel service");
    const std::wstring root = scratch / L"bk", dated = root + L"\\" + TodayFolderName();
    const std::wstring zel = BuiltProgram();

    // A relative root is installed as the folder it names here.
    ProcessResult run = RunZel(L"/i /days:30 bk", scratch.path().c_str());
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(Output(root, "Service installed."), Lines(run.output));
    CHECK_EQ(L"\"" + zel + L"\" /service /days:30 \"" + root + L"\"",
             ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));
    CHECK_EQ(2u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"Start"));
    CHECK_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DelayedAutostart"));
    CHECK_EQ(std::wstring(L"ZEL - Corvane service"), ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DisplayName"));
    DWORD type = 0;
    CHECK_EQ(zel, ReadStringValue(HKEY_LOCAL_MACHINE, SourceKey, L"EventMessageFile", &type));
    CHECK_EQ(DWORD(REG_EXPAND_SZ), type);
    CHECK_EQ(7u, ReadDwordValue(HKEY_LOCAL_MACHINE, SourceKey, L"TypesSupported"));

    run = RunZel(L"/i C:\\elsewhere");
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(Output(L"C:\\elsewhere", ReportLine("Error: Unable to install service", ERROR_SERVICE_EXISTS)),
             Lines(run.output));
    CHECK(ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath").find(root) != std::wstring::npos);

    // A stop while the backup runs: the checkpoints rise, the run finishes.
    ServiceHandle service = OpenZel(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    {
        BcdEditStandIn bcdedit;
        bcdedit.Hold();
        REQUIRE(StartServiceW(service.get(), 0, nullptr));
        REQUIRE(bcdedit.WaitUntilStarted());
        CHECK_EQ(DWORD(SERVICE_RUNNING), Status(service).dwCurrentState);
        SERVICE_STATUS status{};
        CHECK(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
        std::vector<DWORD> checkpoints;
        for (int i = 0; i < 12; ++i, Sleep(500)) {
            status = Status(service);
            CHECK_EQ(DWORD(SERVICE_STOP_PENDING), status.dwCurrentState);
            CHECK(status.dwWaitHint > 500);
            if (checkpoints.empty() || checkpoints.back() != status.dwCheckPoint) checkpoints.push_back(status.dwCheckPoint);
        }
        CHECK(checkpoints.size() >= 2);
        for (size_t i = 1; i < checkpoints.size(); ++i) CHECK(checkpoints[i] > checkpoints[i - 1]);
    }
    REQUIRE(WaitForState(service, SERVICE_STOPPED));
    Strings failed;
    for (const std::string& line : Lines(ReadUtf16Text(dated + L"\\backup.log")))
        if (line.rfind("Saving error ", 0) == 0) failed.push_back(line);
    CHECK(!failed.empty() && FileExists(dated + L"\\sysdir.txt"));
    CHECK_EQ(DWORD(ERROR_SERVICE_SPECIFIC_ERROR), Status(service).dwWin32ExitCode);
    CHECK_EQ(DWORD(failed.size()), Status(service).dwServiceSpecificExitCode);

    // A start on a day whose backup stands saves nothing and reports success.
    const auto before = ListTree(root);
    REQUIRE(StartServiceW(service.get(), 0, nullptr));
    REQUIRE(WaitForState(service, SERVICE_STOPPED));
    CHECK_EQ(0u, Status(service).dwWin32ExitCode);
    CHECK_EQ(before, ListTree(root));
    service.reset();

    run = RunZel(L"/u");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(Output(WindowsDir() + L"\\ZEL", "Service uninstalled."), Lines(run.output));
    CHECK(!KeyExists(HKEY_LOCAL_MACHINE, SourceKey));
    REQUIRE(WaitUntilGone());
    run = RunZel(L"/u");
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(Output(WindowsDir() + L"\\ZEL", ReportLine("Error: Unable open service", ERROR_SERVICE_DOES_NOT_EXIST)),
             Lines(run.output));

    // The service control manager would expand %NAME% in the line.
    run = RunZel(L"/i \"C:\\p%USERNAME%x\"");
    CHECK_EQ(1u, run.exitCode);
    CHECK_EQ(Output(L"C:\\p%USERNAME%x", ReportLine("Error: Unable to install service", ERROR_INVALID_PARAMETER)),
             Lines(run.output));
    CHECK(!OpenZel(SERVICE_QUERY_STATUS));

    // Typed at a console, /service finds no service control manager to serve.
    run = RunZel(L"/service \"" + scratch.path() + L"\\console\"");
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(std::string(), run.output);
    CHECK(!FolderExists(scratch / L"console\\" + TodayFolderName()));
}

SERVICE_STATUS_HANDLE WINAPI RefuseHandler(LPCWSTR, LPHANDLER_FUNCTION) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
}

// Run by the test below in a process of its own: ServiceMain whose handler
// cannot be registered, which the platform's manager never lets happen here.
TEST(ChildServiceMainWithoutHandler) {
    wchar_t root[MAX_PATH];
    GetEnvironmentVariableW(L"ZEL_TEST_ROOT", root, MAX_PATH);
    wcscpy_s(BackupRoot, root);
    RegisterHandlerEntry = RefuseHandler;
    ServiceMain(0, nullptr);
}

// Without a handle no status can end the dispatcher's wait: the process
// must end at once, with nothing backed up.
TEST(FailedHandlerRegistrationEndsTheProcess) {
    ScratchFolder scratch(L"zelhandler");
    SetEnvironmentVariableW(L"ZEL_TEST_ROOT", scratch.path().c_str());
    ProcessResult child = RunProgram(BuiltProgram(L"service_scene_test.exe"), L"ChildServiceMainWithoutHandler");
    CHECK_EQ(2u, child.exitCode);
    CHECK_EQ(std::vector<std::wstring>{}, ListTree(scratch.path()));
}

std::vector<SERVICE_STATUS> Sent;
BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    Sent.push_back(*status);
    return TRUE;
}

TEST(StatusRecords) {
    SetServiceStatusEntry = RecordStatus;
    ServiceStatus = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 5, 0, 0, 0, 0};
    ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
    ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    ServiceCtrlHandler(SERVICE_CONTROL_SHUTDOWN);
    ReportServiceStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0, 3);
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);  // after STOPPED nothing more goes out
    SetServiceStatusEntry = SetServiceStatus;
    // state, accepted, exit code, specific code, checkpoint, wait hint
    const DWORD expected[][6] = {{2, 0, 0, 0, 1, 3000}, {4, 1, 0, 0, 0, 0},   {3, 1, 0, 0, 2, 6000},
                                 {3, 1, 0, 0, 2, 6000}, {3, 1, 0, 0, 3, 6000}, {1, 1, 1066, 3, 0, 0}};
    REQUIRE(Sent.size() == ARRAYSIZE(expected));
    for (size_t i = 0; i < Sent.size(); ++i) {
        Context row("report " + std::to_string(i));
        const SERVICE_STATUS& s = Sent[i];
        CHECK_EQ(DWORD(SERVICE_WIN32_OWN_PROCESS), s.dwServiceType);
        CHECK_EQ(std::vector<DWORD>(expected[i], expected[i] + 6),
                 (std::vector<DWORD>{s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
                                     s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint}));
    }
}

struct EventRecord {
    WORD type;
    DWORD id;
    std::vector<std::wstring> strings;
};
std::vector<EventRecord> Records;
BOOL WINAPI RecordEvent(HANDLE, WORD type, WORD, DWORD id, PSID, WORD count, DWORD, LPCWSTR* strings, LPVOID) {
    Records.push_back({type, id, std::vector<std::wstring>(strings, strings + count)});
    return TRUE;
}

// Wine's event log records nothing, so the record is taken where it is sent.
TEST(EventRecordOfEachKindOfRun) {
    ReportEventEntry = RecordEvent;
    const struct { DWORD reported, failed, stepError; const wchar_t* names; EventRecord record; } cases[] = {
        {9, 0, 0, L"", {EVENTLOG_INFORMATION_TYPE, MSG_BACKUP_MADE, {L"C:\\bk\\day", L"9", L"9"}}},
        {9, 2, 0, L"SAM, SECURITY",
         {EVENTLOG_WARNING_TYPE, MSG_BACKUP_INCOMPLETE, {L"C:\\bk\\day", L"7", L"9", L"SAM, SECURITY"}}},
        {0, 0, 0, L"", {EVENTLOG_INFORMATION_TYPE, MSG_BACKUP_STANDS, {L"C:\\bk"}}},
        {3, 1, ERROR_DISK_FULL, L"SOFTWARE",
         {EVENTLOG_WARNING_TYPE, MSG_BACKUP_NOT_MADE, {L"C:\\bk", L"[" + Widen(SystemText(ERROR_DISK_FULL)) + L"]"}}},
    };
    for (const auto& c : cases) {
        Context row(std::to_string(c.record.id));
        HivesReported = c.reported;
        HivesFailed = c.failed;
        RunStepError = c.stepError;
        wcscpy_s(FailedHiveNames, c.names);
        Records.clear();
        RecordServiceRun(L"C:\\bk", L"C:\\bk\\day");
        REQUIRE(Records.size() == 1);
        CHECK_EQ(c.record.type, Records[0].type);
        CHECK_EQ(c.record.id, Records[0].id);
        CHECK_EQ(c.record.strings, Records[0].strings);
    }
    ReportEventEntry = ReportEventW;
}

}  // namespace
