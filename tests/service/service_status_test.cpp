#include <gtest/gtest.h>

#include <strsafe.h>

#include <cstring>
#include <vector>

#include "app/owned_handle.h"
#include "app/process_state.h"
#include "service/service_runtime.h"
#include "support/scratch.h"

namespace {

const SERVICE_STATUS_HANDLE FakeHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5E7);

// What the recorder saw; it keeps its own lock so that a fault in the code
// under test shows as a failed check rather than a torn vector.
CRITICAL_SECTION RecordLock;
std::vector<SERVICE_STATUS> Sent;
std::vector<SERVICE_STATUS_HANDLE> SentTo;
LONG TornReports = 0;

BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    SERVICE_STATUS copy = *status;
    // Give the other thread time to change the record while it is being sent.
    Sleep(1);
    if (std::memcmp(&copy, status, sizeof(copy)) != 0) InterlockedIncrement(&TornReports);
    EnterCriticalSection(&RecordLock);
    Sent.push_back(copy);
    SentTo.push_back(handle);
    LeaveCriticalSection(&RecordLock);
    return TRUE;
}

SERVICE_STATUS Status(DWORD state, DWORD accepted, DWORD checkPoint, DWORD waitHint) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    return status;
}

void ExpectStatus(const SERVICE_STATUS& expected, const SERVICE_STATUS& actual) {
    EXPECT_EQ(expected.dwServiceType, actual.dwServiceType);
    EXPECT_EQ(expected.dwCurrentState, actual.dwCurrentState);
    EXPECT_EQ(expected.dwControlsAccepted, actual.dwControlsAccepted);
    EXPECT_EQ(expected.dwWin32ExitCode, actual.dwWin32ExitCode);
    EXPECT_EQ(expected.dwServiceSpecificExitCode, actual.dwServiceSpecificExitCode);
    EXPECT_EQ(expected.dwCheckPoint, actual.dwCheckPoint);
    EXPECT_EQ(expected.dwWaitHint, actual.dwWaitHint);
}

// Puts back every process-wide value the service runtime owns or reads.
class ServiceStatusReports : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitializeCriticalSection(&RecordLock); }
    static void TearDownTestSuite() { DeleteCriticalSection(&RecordLock); }

    void SetUp() override {
        savedStatus_ = ServiceStatus;
        savedHandle_ = ServiceStatusHandle;
        savedCheckPoint_ = NextCheckPoint;
        savedRunning_ = DispatcherRunning;
        savedEntry_ = SetServiceStatusEntry;
        savedServiceMode_ = ServiceMode;
        StringCchCopyW(savedRoot_, ARRAYSIZE(savedRoot_), BackupRoot);

        Sent.clear();
        SentTo.clear();
        TornReports = 0;
        SetServiceStatusEntry = RecordStatus;
        ServiceStatusHandle = FakeHandle;
        NextCheckPoint = 1;
        // The record as the service's entry fills it before the first report.
        ServiceStatus = Status(SERVICE_START_PENDING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN,
                               0, 0);
    }
    void TearDown() override {
        ServiceStatus = savedStatus_;
        ServiceStatusHandle = savedHandle_;
        NextCheckPoint = savedCheckPoint_;
        DispatcherRunning = savedRunning_;
        SetServiceStatusEntry = savedEntry_;
        ServiceMode = savedServiceMode_;
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), savedRoot_);
    }

private:
    SERVICE_STATUS savedStatus_{};
    SERVICE_STATUS_HANDLE savedHandle_ = nullptr;
    DWORD savedCheckPoint_ = 0;
    LONG savedRunning_ = 0;
    SetServiceStatusFn savedEntry_ = nullptr;
    bool savedServiceMode_ = false;
    wchar_t savedRoot_[LongPathCapacity];
};

TEST_F(ServiceStatusReports, TheWholeLifeOfAStartWithTwoStopRequests) {
    ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
    ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);
    ServiceCtrlHandler(SERVICE_CONTROL_SHUTDOWN);
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    ReportServiceStatus(SERVICE_STOPPED, NO_ERROR, 0);

    ASSERT_EQ(6u, Sent.size());
    ExpectStatus(Status(SERVICE_START_PENDING, 0, 1, 3000), Sent[0]);
    ExpectStatus(Status(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0), Sent[1]);
    ExpectStatus(Status(SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP, 2, 0), Sent[2]);
    ExpectStatus(Status(SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP, 3, 0), Sent[3]);
    ExpectStatus(Sent[3], Sent[4]);
    ExpectStatus(Status(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0), Sent[5]);
    for (SERVICE_STATUS_HANDLE handle : SentTo) EXPECT_EQ(FakeHandle, handle);
    EXPECT_EQ(4u, NextCheckPoint);
    EXPECT_EQ(0, TornReports);
}

TEST_F(ServiceStatusReports, OtherControlsResendTheRecordUnchanged) {
    const DWORD controls[] = {SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE,
                              SERVICE_CONTROL_CONTINUE, 128};
    for (DWORD control : controls) ServiceCtrlHandler(control);
    ASSERT_EQ(4u, Sent.size());
    const SERVICE_STATUS beforeFirstReport =
        Status(SERVICE_START_PENDING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN, 0, 0);
    for (const SERVICE_STATUS& status : Sent) ExpectStatus(beforeFirstReport, status);
    EXPECT_EQ(1u, NextCheckPoint);
    ExpectStatus(beforeFirstReport, ServiceStatus);

    ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    ASSERT_EQ(6u, Sent.size());
    ExpectStatus(Status(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0), Sent[5]);
    EXPECT_EQ(1u, NextCheckPoint);
}

TEST_F(ServiceStatusReports, AReportSetsItsOwnFieldsAndLeavesTypeAndSpecificCode) {
    ServiceStatus.dwServiceType = 0xA1;
    ServiceStatus.dwServiceSpecificExitCode = 0xB2;
    ServiceStatus.dwCheckPoint = 0xC3;
    NextCheckPoint = 41;

    ReportServiceStatus(SERVICE_CONTINUE_PENDING, 5, 77);
    ReportServiceStatus(SERVICE_PAUSED, 6, 88);

    ASSERT_EQ(2u, Sent.size());
    SERVICE_STATUS pending = Status(SERVICE_CONTINUE_PENDING, SERVICE_ACCEPT_STOP, 41, 77);
    pending.dwServiceType = 0xA1;
    pending.dwServiceSpecificExitCode = 0xB2;
    pending.dwWin32ExitCode = 5;
    ExpectStatus(pending, Sent[0]);
    SERVICE_STATUS paused = Status(SERVICE_PAUSED, SERVICE_ACCEPT_STOP, 42, 88);
    paused.dwServiceType = 0xA1;
    paused.dwServiceSpecificExitCode = 0xB2;
    paused.dwWin32ExitCode = 6;
    ExpectStatus(paused, Sent[1]);
    EXPECT_EQ(43u, NextCheckPoint);
}

struct RacingReports {
    int count;
    bool stopRequests;
};

DWORD WINAPI ReportMany(void* parameter) {
    const RacingReports* race = static_cast<const RacingReports*>(parameter);
    for (int i = 0; i < race->count; ++i) {
        if (race->stopRequests) {
            ServiceCtrlHandler(SERVICE_CONTROL_STOP);
        } else if (i % 2 == 0) {
            ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
        } else {
            ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
        }
    }
    return 0;
}

TEST_F(ServiceStatusReports, TwoThreadsNeverSplitAReport) {
    RacingReports stops{400, true};
    RacingReports starts{400, false};
    KernelHandle first(CreateThread(nullptr, 0, ReportMany, &stops, 0, nullptr));
    KernelHandle second(CreateThread(nullptr, 0, ReportMany, &starts, 0, nullptr));
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(second.valid());
    WaitForSingleObject(first.get(), INFINITE);
    WaitForSingleObject(second.get(), INFINITE);

    EXPECT_EQ(0, TornReports);
    ASSERT_EQ(800u, Sent.size());
    std::vector<bool> seen(400 + 200 + 2, false);
    for (const SERVICE_STATUS& status : Sent) {
        switch (status.dwCurrentState) {
            case SERVICE_START_PENDING:
                ASSERT_EQ(0u, status.dwControlsAccepted);
                ASSERT_EQ(3000u, status.dwWaitHint);
                break;
            case SERVICE_STOP_PENDING:
            case SERVICE_RUNNING:
                ASSERT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP), status.dwControlsAccepted);
                ASSERT_EQ(0u, status.dwWaitHint);
                break;
            default:
                FAIL() << "state " << status.dwCurrentState;
        }
        if (status.dwCurrentState == SERVICE_RUNNING) {
            ASSERT_EQ(0u, status.dwCheckPoint);
        } else {
            // Every pending report took a checkpoint of its own.
            ASSERT_GE(status.dwCheckPoint, 1u);
            ASSERT_LT(status.dwCheckPoint, seen.size());
            ASSERT_FALSE(seen[status.dwCheckPoint]) << status.dwCheckPoint;
            seen[status.dwCheckPoint] = true;
        }
    }
    EXPECT_EQ(1u + 400u + 200u, NextCheckPoint);
}

// Outside a service process the handler cannot be registered: nothing is
// reported, no backup is made, and the waiting main thread is let go.
TEST_F(ServiceStatusReports, ServiceMainWithoutRegistrationReleasesTheMainThread) {
    ScratchFolder scratch(L"zel svcmain");
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), scratch.path().c_str());
    ServiceMode = true;
    std::memset(&ServiceStatus, 0xEE, sizeof(ServiceStatus));
    DispatcherRunning = 1;

    ServiceMain(0, nullptr);

    EXPECT_EQ(0, DispatcherRunning);
    EXPECT_TRUE(Sent.empty());
    EXPECT_EQ(1u, NextCheckPoint);
    ExpectStatus(Status(SERVICE_START_PENDING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN, 0, 0),
                 ServiceStatus);
    EXPECT_FALSE(FolderExists(scratch / TodayFolderName()));
}

}  // namespace
