#include <gtest/gtest.h>

#include <wchar.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/owned_handle.h"
#include "support/child_process.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"

namespace {

const wchar_t ServiceKey[] = L"System\\CurrentControlSet\\Services\\zel";

std::wstring ImagePath() { return ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"); }

std::wstring InstalledLine(int days, const std::wstring& quotedRoot) {
    std::wstring zel = ZelPath();
    return L"\"" + zel.substr(0, zel.rfind(L'\\')) + L"\\zel.exe\" /service /days:" +
           std::to_wstring(days) + L" " + quotedRoot;
}

std::string Lines(const std::wstring& root, const std::string& last) {
    return "ZEL - Corvane v1.20\r\n" + Narrow(root) + "\r\n" + last + "\r\n";
}

std::string Report(const char* prefix, DWORD code) {
    return std::string(prefix) + " [" + SystemText(code) + "]";
}

ServiceHandle OpenZel(DWORD access, DWORD* error = nullptr) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service;
    if (manager) service.reset(OpenServiceW(manager.get(), L"zel", access));
    if (error) *error = service ? ERROR_SUCCESS : GetLastError();
    return service;
}

// Polls every 250 ms until `done` holds or `limitMs` have passed.
template <typename Done>
bool PollUntil(Done done, DWORD limitMs) {
    for (DWORD waited = 0; !done(); waited += 250) {
        if (waited >= limitMs) return false;
        Sleep(250);
    }
    return true;
}

bool WaitForStopped(const ServiceHandle& service, SERVICE_STATUS* status) {
    auto stopped = [&] {
        return QueryServiceStatus(service.get(), status) &&
               status->dwCurrentState == SERVICE_STOPPED;
    };
    return PollUntil(stopped, 300000);
}

// A service that has run stays listed a little after its deletion.
bool WaitUntilGone() {
    auto gone = [] {
        DWORD error = 0;
        return !OpenZel(SERVICE_QUERY_STATUS, &error) && error == ERROR_SERVICE_DOES_NOT_EXIST;
    };
    return PollUntil(gone, 60000);
}

// Every test starts and ends with no service "zel".
class ServiceScm : public ::testing::Test {
protected:
    static void RemoveZel() {
        ServiceHandle service = OpenZel(DELETE | SERVICE_QUERY_STATUS);
        SERVICE_STATUS status{};
        if (service && WaitForStopped(service, &status)) DeleteService(service.get());
    }
    void SetUp() override {
        RemoveZel();
        ASSERT_TRUE(WaitUntilGone()) << "a service zel is left from elsewhere";
    }
    void TearDown() override {
        RemoveZel();
        EXPECT_TRUE(WaitUntilGone());
    }
};

// Removes a folder at the end only when the test made it.
struct FolderIfMade {
    explicit FolderIfMade(std::wstring p) : path(std::move(p)), existed(FolderExists(path)) {}
    ~FolderIfMade() { if (!existed) RemoveTree(path); }
    std::wstring path;
    bool existed;
};

TEST_F(ServiceScm, InstallReinstallUninstallAndQuietInstall) {
    FolderIfMade mine(L"C:\\My Backups");
    FolderIfMade standard(WindowsDir() + L"\\ZEL");

    ProcessResult run = RunZel(L"/i /days:30 \"C:\\My Backups\"");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(mine.path, "Service installed."), run.output);
    const std::wstring line = InstalledLine(30, L"\"C:\\My Backups\"");
    EXPECT_EQ(line, ImagePath());
    EXPECT_EQ(2u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"Start"));
    EXPECT_EQ(0x10u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"Type"));
    EXPECT_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ErrorControl"));
    EXPECT_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DelayedAutostart"));
    EXPECT_EQ(L"ZEL - Corvane service",
              ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DisplayName"));
    EXPECT_EQ(L"LocalSystem", ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ObjectName"));

    run = RunZel(L"/i");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(standard.path, Report("Error: Unable to install service",
                                          ERROR_SERVICE_EXISTS)),
              run.output);
    EXPECT_EQ(line, ImagePath());
    EXPECT_EQ(1u, ReadDwordValue(HKEY_LOCAL_MACHINE, ServiceKey, L"DelayedAutostart"));

    run = RunZel(L"/u");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(standard.path, "Service uninstalled."), run.output);
    ASSERT_TRUE(WaitUntilGone());

    run = RunZel(L"/u");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(standard.path, Report("Error: Unable open service",
                                          ERROR_SERVICE_DOES_NOT_EXIST)),
              run.output);

    // /service silences the install, which still takes place.
    ScratchFolder scratch(L"zel quiet");
    run = RunZel(L"/service /i \"" + scratch.path() + L"\\\\\"");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.output);
    EXPECT_EQ(InstalledLine(15, L"\"" + scratch.path() + L"\\\\\""), ImagePath());
}

TEST_F(ServiceScm, ALineTooLongForItsBufferIsNotRegistered) {
    const std::wstring root = L"C:\\" + std::wstring(2100, L'x');
    ProcessResult run = RunZel(L"/i " + root);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Lines(root, Report("Error: Unable to install service", ERROR_FILENAME_EXCED_RANGE)),
              run.output);
    DWORD error = 0;
    EXPECT_FALSE(OpenZel(SERVICE_QUERY_STATUS, &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), error);
}

// Names, sizes and write times of everything under a folder.
void ListTree(const std::wstring& folder, const std::wstring& prefix,
              std::vector<std::wstring>* entries) {
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return;
    do {
        const std::wstring name = prefix + entry.cFileName;
        if (!wcscmp(entry.cFileName, L".") || !wcscmp(entry.cFileName, L"..")) continue;
        entries->push_back(name + L" " + std::to_wstring(entry.nFileSizeLow) + L" " +
                           std::to_wstring(entry.ftLastWriteTime.dwLowDateTime));
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListTree(folder + L"\\" + entry.cFileName, name + L"\\", entries);
        }
    } while (FindNextFileW(find.get(), &entry));
    std::sort(entries->begin(), entries->end());
}

std::vector<std::wstring> StartZelAndListAfterStop(const std::wstring& root) {
    std::vector<std::wstring> entries;
    ServiceHandle service = OpenZel(SERVICE_START | SERVICE_QUERY_STATUS);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    status.dwWin32ExitCode = 0xdeadbeef;
    // The run takes a backup and a five-second pause; the limit is only a guard.
    EXPECT_TRUE(WaitForStopped(service, &status));
    EXPECT_EQ(0u, status.dwWin32ExitCode);
    ListTree(root, L"", &entries);
    return entries;
}

TEST_F(ServiceScm, AStartedServiceMakesTodaysBackupOnceAndStopsByItself) {
    ScratchFolder scratch(L"zel run");
    const std::wstring root = scratch / L"zel root";
    ASSERT_EQ(Lines(root, "Service installed."), RunZel(L"/i \"" + root + L"\"").output);
    const std::wstring today = root + L"\\" + TodayFolderName();
    ASSERT_FALSE(FolderExists(today));

    const std::vector<std::wstring> first = StartZelAndListAfterStop(root);
    ASSERT_TRUE(FolderExists(today));
    EXPECT_TRUE(FileExists(today + L"\\SYSTEM") || FileExists(today + L"\\SOFTWARE"));
    EXPECT_EQ(first, StartZelAndListAfterStop(root));
}

TEST(ServiceConsole, ServiceTypedAtAConsoleEndsByItselfWithoutABackup) {
    ScratchFolder scratch(L"zel console");
    ProcessResult run = RunZel(L"/service \"" + scratch.path() + L"\"");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.output);
    EXPECT_FALSE(FolderExists(scratch / TodayFolderName()));
}

}  // namespace
