#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "support/child_process.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"

namespace {

const wchar_t ServiceKey[] = L"System\\CurrentControlSet\\Services\\zel";
const char Banner[] = "ZEL - Corvane v1.20\r\n";

std::wstring ZelFolder() {
    std::wstring zel = ZelPath();
    return zel.substr(0, zel.rfind(L'\\'));
}

std::wstring InstalledLine(const std::wstring& folder, int days, const std::wstring& quotedRoot) {
    return L"\"" + folder + L"\\zel.exe\" /service /days:" + std::to_wstring(days) + L" " +
           quotedRoot;
}

std::string Lines(const std::wstring& root, const std::string& last) {
    return Banner + Narrow(root) + "\r\n" + last;
}

ServiceHandle OpenZel(DWORD access, DWORD* error = nullptr) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service;
    if (manager) service.reset(OpenServiceW(manager.get(), L"zel", access));
    if (error) *error = service ? ERROR_SUCCESS : GetLastError();
    return service;
}

// Polls the service's state until it is `state` or `limitMs` have passed.
DWORD WaitForState(DWORD state, DWORD limitMs) {
    ServiceHandle service = OpenZel(SERVICE_QUERY_STATUS);
    if (!service) return 0;
    SERVICE_STATUS status{};
    for (DWORD waited = 0;; waited += 250) {
        if (!QueryServiceStatus(service.get(), &status)) return 0;
        if (status.dwCurrentState == state || waited >= limitMs) return status.dwCurrentState;
        Sleep(250);
    }
}

// A service that has run stays listed a little after its deletion.
bool WaitUntilGone(DWORD limitMs) {
    for (DWORD waited = 0;; waited += 250) {
        DWORD error = 0;
        if (!OpenZel(SERVICE_QUERY_STATUS, &error) && error == ERROR_SERVICE_DOES_NOT_EXIST) {
            return true;
        }
        if (waited >= limitMs) return false;
        Sleep(250);
    }
}

void RemoveZelService() {
    ServiceHandle service = OpenZel(DELETE | SERVICE_QUERY_STATUS);
    if (service) {
        WaitForState(SERVICE_STOPPED, 120000);
        DeleteService(service.get());
    }
}

struct ServiceConfig {
    bool read = false;
    DWORD serviceType = 0, startType = 0, errorControl = 0;
    std::wstring binaryPath, startName, displayName;
};

ServiceConfig QueryZelConfig() {
    ServiceConfig config;
    ServiceHandle service = OpenZel(SERVICE_QUERY_CONFIG);
    if (!service) return config;
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* query = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), query, static_cast<DWORD>(buffer.size()), &needed)) {
        return config;
    }
    config.read = true;
    config.serviceType = query->dwServiceType;
    config.startType = query->dwStartType;
    config.errorControl = query->dwErrorControl;
    if (query->lpBinaryPathName) config.binaryPath = query->lpBinaryPathName;
    if (query->lpServiceStartName) config.startName = query->lpServiceStartName;
    if (query->lpDisplayName) config.displayName = query->lpDisplayName;
    return config;
}

// Every test starts and ends with no service "zel".
class ServiceScm : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveZelService();
        ASSERT_TRUE(WaitUntilGone(60000)) << "a service zel is left from elsewhere";
    }
    void TearDown() override {
        RemoveZelService();
        EXPECT_TRUE(WaitUntilGone(60000));
    }
};

// Removes a folder at the end only when the test made it.
class FolderIfMade {
public:
    explicit FolderIfMade(const std::wstring& path) : path_(path), existed_(FolderExists(path)) {}
    ~FolderIfMade() {
        if (!existed_) RemoveTree(path_);
    }
    FolderIfMade(const FolderIfMade&) = delete;
    FolderIfMade& operator=(const FolderIfMade&) = delete;

private:
    std::wstring path_;
    bool existed_;
};

TEST_F(ServiceScm, InstallRegistersTheDefaultRootThenUninstallRemovesIt) {
    const std::wstring root = WindowsDir() + L"\\ZEL";
    FolderIfMade made(root);

    ProcessResult run = RunZel(L"/i");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(root, "Service installed.\r\n"), run.output);

    const std::wstring line = InstalledLine(ZelFolder(), 15, L"\"" + root + L"\"");
    EXPECT_EQ(line, ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));
    EXPECT_EQ(2u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"Start"));
    EXPECT_EQ(0x10u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"Type"));
    EXPECT_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ErrorControl"));
    EXPECT_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DelayedAutostart"));
    EXPECT_EQ(L"ZEL - Corvane service",
              ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DisplayName"));
    EXPECT_EQ(L"LocalSystem", ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ObjectName"));

    ServiceConfig config = QueryZelConfig();
    ASSERT_TRUE(config.read);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config.serviceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.startType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config.errorControl);
    EXPECT_EQ(line, config.binaryPath);
    EXPECT_EQ(L"LocalSystem", config.startName);
    EXPECT_EQ(L"ZEL - Corvane service", config.displayName);

    run = RunZel(L"/u");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(root, "Service uninstalled.\r\n"), run.output);
    EXPECT_TRUE(WaitUntilGone(60000));
}

TEST_F(ServiceScm, ASecondInstallIsRefusedAndLeavesTheFirstRegistration) {
    const std::wstring root = L"C:\\My Backups";
    FolderIfMade made(root);
    ScratchFolder other(L"zel other");

    ProcessResult run = RunZel(L"/i /days:30 \"C:\\My Backups\"");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(Lines(root, "Service installed.\r\n"), run.output);
    const std::wstring line = InstalledLine(ZelFolder(), 30, L"\"C:\\My Backups\"");
    EXPECT_EQ(line, ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));

    run = RunZel(L"\"" + other.path() + L"\" /days:3 /i");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(other.path(), "Error: Unable to install service [" +
                                      SystemText(ERROR_SERVICE_EXISTS) + "]\r\n"),
              run.output);
    EXPECT_EQ(line, ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));
    EXPECT_EQ(line, QueryZelConfig().binaryPath);
    EXPECT_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DelayedAutostart"));
}

TEST_F(ServiceScm, UninstallWithoutAServiceReportsIt) {
    ScratchFolder scratch(L"zel none");
    ProcessResult run = RunZel(L"/u \"" + scratch.path() + L"\"");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(scratch.path(), "Error: Unable open service [" +
                                        SystemText(ERROR_SERVICE_DOES_NOT_EXIST) + "]\r\n"),
              run.output);
}

TEST_F(ServiceScm, InstallWithServiceIsSilentAndStillInstalls) {
    ScratchFolder scratch(L"zel quiet");
    const std::wstring root = scratch / L"root\\";
    ProcessResult run = RunZel(L"/service /i \"" + root + L"\\\"");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.output);
    EXPECT_EQ(InstalledLine(ZelFolder(), 15, L"\"" + root + L"\\\""),
              ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));
    EXPECT_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DelayedAutostart"));
}

TEST_F(ServiceScm, ARenamedCopyStillRegistersZelExe) {
    ScratchFolder scratch(L"zel renamed");
    const std::wstring copy = scratch / L"corvane.exe";
    ASSERT_TRUE(CopyFileW(ZelPath().c_str(), copy.c_str(), TRUE));
    ProcessResult run = RunZelAt(copy, L"\"" + scratch.path() + L"\" /days:7 /i");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(Lines(scratch.path(), "Service installed.\r\n"), run.output);
    EXPECT_EQ(InstalledLine(scratch.path(), 7, L"\"" + scratch.path() + L"\""),
              ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));
}

TEST_F(ServiceScm, ALineTooLongForItsBufferIsNotRegistered) {
    const std::wstring root = L"C:\\" + std::wstring(2100, L'x');
    ProcessResult run = RunZel(L"/i " + root);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(root, "Error: Unable to install service [" +
                              SystemText(ERROR_FILENAME_EXCED_RANGE) + "]\r\n"),
              run.output);
    DWORD error = 0;
    EXPECT_FALSE(OpenZel(SERVICE_QUERY_STATUS, &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), error);
}

// Names and sizes of everything under a folder, for comparing two moments.
void ListTree(const std::wstring& folder, const std::wstring& prefix,
              std::vector<std::wstring>* entries) {
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            entries->push_back(prefix + name + L"\\");
            ListTree(folder + L"\\" + name, prefix + name + L"\\", entries);
        } else {
            entries->push_back(prefix + name + L" " + std::to_wstring(entry.nFileSizeLow) + L" " +
                               std::to_wstring(entry.ftLastWriteTime.dwLowDateTime));
        }
    } while (FindNextFileW(find.get(), &entry));
    std::sort(entries->begin(), entries->end());
}

void StartZelAndWaitForStop(DWORD* exitCode) {
    ServiceHandle service = OpenZel(SERVICE_START | SERVICE_QUERY_STATUS);
    ASSERT_TRUE(service.valid());
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    // The run takes a backup and a five-second pause; the limit is only a guard.
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), WaitForState(SERVICE_STOPPED, 300000));
    SERVICE_STATUS status{};
    status.dwWin32ExitCode = 0xdeadbeef;
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    *exitCode = status.dwWin32ExitCode;
}

TEST_F(ServiceScm, AStartedServiceMakesTodaysBackupOnceAndStopsByItself) {
    ScratchFolder scratch(L"zel run");
    const std::wstring root = scratch / L"zel root";
    ProcessResult run = RunZel(L"/i /days:20 \"" + root + L"\"");
    ASSERT_TRUE(run.started);
    ASSERT_EQ(Lines(root, "Service installed.\r\n"), run.output);
    const std::wstring today = root + L"\\" + TodayFolderName();
    ASSERT_FALSE(FolderExists(today));

    DWORD exitCode = 0xdeadbeef;
    StartZelAndWaitForStop(&exitCode);
    EXPECT_EQ(0u, exitCode);
    ASSERT_TRUE(FolderExists(today));
    EXPECT_TRUE(FileExists(today + L"\\SYSTEM") || FileExists(today + L"\\SOFTWARE"));
    std::vector<std::wstring> first;
    ListTree(today, L"", &first);

    exitCode = 0xdeadbeef;
    StartZelAndWaitForStop(&exitCode);
    EXPECT_EQ(0u, exitCode);
    std::vector<std::wstring> second;
    ListTree(today, L"", &second);
    EXPECT_EQ(first, second);
}

TEST(ServiceConsole, ServiceTypedAtAConsoleEndsByItselfWithoutABackup) {
    ScratchFolder scratch(L"zel console");
    ProcessResult run = RunZel(L"/service \"" + scratch.path() + L"\"");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.output);
    EXPECT_FALSE(FolderExists(scratch / TodayFolderName()));
}

}  // namespace
