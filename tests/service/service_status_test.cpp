#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/owned_handle.h"
#include "service/service_runtime.h"

namespace {

const SERVICE_STATUS_HANDLE FakeHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5E7);

// The recorder keeps its own lock so that a fault in the code under test
// shows as a failed check rather than a torn vector.
CRITICAL_SECTION RecordLock;
std::vector<SERVICE_STATUS> Sent;
LONG TornReports = 0;
LONG WrongHandles = 0;

BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    SERVICE_STATUS copy = *status;
    // Gives the other thread time to change the record while it is being sent.
    Sleep(1);
    if (std::memcmp(&copy, status, sizeof(copy)) != 0) InterlockedIncrement(&TornReports);
    if (handle != FakeHandle) InterlockedIncrement(&WrongHandles);
    EnterCriticalSection(&RecordLock);
    Sent.push_back(copy);
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
    EXPECT_EQ(0, std::memcmp(&expected, &actual, sizeof(expected)))
        << "state " << actual.dwCurrentState << " checkpoint " << actual.dwCheckPoint;
}

class ServiceStatusReports : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitializeCriticalSection(&RecordLock); }
    static void TearDownTestSuite() { DeleteCriticalSection(&RecordLock); }

    void SetUp() override {
        savedStatus_ = ServiceStatus;
        savedHandle_ = ServiceStatusHandle;
        savedCheckPoint_ = NextCheckPoint;
        savedEntry_ = SetServiceStatusEntry;
        Sent.clear();
        TornReports = 0;
        WrongHandles = 0;
        SetServiceStatusEntry = RecordStatus;
        ServiceStatusHandle = FakeHandle;
        NextCheckPoint = 1;
        // The record as ServiceMain fills it before its first report.
        ServiceStatus = Status(SERVICE_START_PENDING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN,
                               0, 0);
    }
    void TearDown() override {
        ServiceStatus = savedStatus_;
        ServiceStatusHandle = savedHandle_;
        NextCheckPoint = savedCheckPoint_;
        SetServiceStatusEntry = savedEntry_;
    }

private:
    SERVICE_STATUS savedStatus_{};
    SERVICE_STATUS_HANDLE savedHandle_ = nullptr;
    DWORD savedCheckPoint_ = 0;
    SetServiceStatusFn savedEntry_ = nullptr;
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
    EXPECT_EQ(4u, NextCheckPoint);
    EXPECT_EQ(0, WrongHandles);
}

constexpr int ReportsPerThread = 100;

DWORD WINAPI Race(void* stopRequests) {
    for (int i = 0; i < ReportsPerThread; ++i) {
        if (stopRequests) {
            ServiceCtrlHandler(SERVICE_CONTROL_STOP);
            continue;
        }
        ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
        ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
    }
    return 0;
}

TEST_F(ServiceStatusReports, TwoThreadsNeverSplitAReport) {
    bool stopRequests = true;
    KernelHandle first(CreateThread(nullptr, 0, Race, &stopRequests, 0, nullptr));
    KernelHandle second(CreateThread(nullptr, 0, Race, nullptr, 0, nullptr));
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(second.valid());
    WaitForSingleObject(first.get(), INFINITE);
    WaitForSingleObject(second.get(), INFINITE);

    EXPECT_EQ(0, TornReports);
    ASSERT_EQ(3u * ReportsPerThread, Sent.size());
    // Every pending report took a checkpoint of its own.
    std::vector<bool> seen(2 * ReportsPerThread + 1, false);
    for (const SERVICE_STATUS& status : Sent) {
        const bool running = status.dwCurrentState == SERVICE_RUNNING;
        const bool starting = status.dwCurrentState == SERVICE_START_PENDING;
        ASSERT_TRUE(running || starting || status.dwCurrentState == SERVICE_STOP_PENDING);
        ASSERT_EQ(starting ? 0u : static_cast<DWORD>(SERVICE_ACCEPT_STOP),
                  status.dwControlsAccepted);
        ASSERT_EQ(starting ? 3000u : 0u, status.dwWaitHint);
        if (running) {
            ASSERT_EQ(0u, status.dwCheckPoint);
            continue;
        }
        ASSERT_GE(status.dwCheckPoint, 1u);
        ASSERT_LT(status.dwCheckPoint, seen.size());
        ASSERT_FALSE(seen[status.dwCheckPoint]) << status.dwCheckPoint;
        seen[status.dwCheckPoint] = true;
    }
    EXPECT_EQ(1u + 2u * ReportsPerThread, NextCheckPoint);
}

}  // namespace
