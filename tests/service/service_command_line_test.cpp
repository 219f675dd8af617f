#include <gtest/gtest.h>

#include <windows.h>
#include <strsafe.h>

#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "app/process_state.h"
#include "service/service_command_line.h"
#include "service/service_install.h"
#include "support/child_process.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

constexpr size_t LineCapacity = 2048;

// Puts back the process-wide values these tests change.
class ServiceCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        StringCchCopyW(savedModuleDir_, ARRAYSIZE(savedModuleDir_), ModuleDir);
        StringCchCopyW(savedBackupRoot_, ARRAYSIZE(savedBackupRoot_), BackupRoot);
        savedDays_ = RetentionDays;
        savedServiceMode_ = ServiceMode;
        StringCchCopyW(ModuleDir, ARRAYSIZE(ModuleDir), L"C:\\Tools");
        RetentionDays = 15;
        ServiceMode = false;
    }
    void TearDown() override {
        StringCchCopyW(ModuleDir, ARRAYSIZE(ModuleDir), savedModuleDir_);
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), savedBackupRoot_);
        RetentionDays = savedDays_;
        ServiceMode = savedServiceMode_;
    }

    static void SetRoot(const std::wstring& root) {
        ASSERT_TRUE(SUCCEEDED(StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root.c_str())));
    }

    // Composes into a poisoned buffer; `ok` and `error` report the outcome.
    static std::wstring Compose(bool* ok, DWORD* error) {
        std::vector<wchar_t> line(LineCapacity, L'X');
        SetLastError(0xdeadbeef);
        *ok = ComposeServiceCommandLine(line.data(), line.size());
        *error = GetLastError();
        size_t length = 0;
        if (FAILED(StringCchLengthW(line.data(), line.size(), &length))) {
            ADD_FAILURE() << "composed line is not terminated inside its buffer";
            return std::wstring();
        }
        return std::wstring(line.data(), length);
    }

private:
    wchar_t savedModuleDir_[LongPathCapacity];
    wchar_t savedBackupRoot_[LongPathCapacity];
    int savedDays_ = 0;
    bool savedServiceMode_ = false;
};

// The platform's own splitting, loaded at run time (shell32 is not linked).
std::vector<std::wstring> SplitLikeThePlatform(const std::wstring& line) {
    std::vector<std::wstring> arguments;
    using SplitFn = LPWSTR*(WINAPI*)(LPCWSTR, int*);
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    if (!shell) return arguments;
    auto split = reinterpret_cast<SplitFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "CommandLineToArgvW")));
    int count = 0;
    LPWSTR* argv = split ? split(line.c_str(), &count) : nullptr;
    for (int i = 0; argv && i < count; ++i) arguments.push_back(argv[i]);
    if (argv) LocalFree(argv);
    FreeLibrary(shell);
    return arguments;
}

std::string UninstallOutputWithoutService(const std::wstring& root) {
    return "ZEL - Corvane v1.20\r\n" + Narrow(root) + "\r\n" + "Error: Unable open service [" +
           SystemText(ERROR_SERVICE_DOES_NOT_EXIST) + "]\r\n";
}

struct QuotedRoot {
    const wchar_t* root;
    const wchar_t* quoted;
};

TEST_F(ServiceCommandLine, QuotesBothPathsAndDoublesTrailingBackslashes) {
    const QuotedRoot cases[] = {
        {L"C:\\Windows\\ZEL", L"\"C:\\Windows\\ZEL\""},
        {L"D:\\", L"\"D:\\\\\""},
        {L"C:\\My Backups\\", L"\"C:\\My Backups\\\\\""},
        {L"C:\\My Backups", L"\"C:\\My Backups\""},
        {L"E:\\100% sure\\%TEMP%", L"\"E:\\100% sure\\%TEMP%\""},
        {L"\\\\server\\share\\\\\\", L"\"\\\\server\\share\\\\\\\\\\\\\""},
        {L"C:\\a\\b c", L"\"C:\\a\\b c\""},
        {L"", L"\"\""},
    };
    for (const QuotedRoot& c : cases) {
        SCOPED_TRACE(Narrow(c.root));
        SetRoot(c.root);
        bool ok = false;
        DWORD error = 0;
        std::wstring line = Compose(&ok, &error);
        ASSERT_TRUE(ok) << "error " << error;
        EXPECT_EQ(L"\"C:\\Tools\\zel.exe\" /service /days:15 " + std::wstring(c.quoted), line);

        std::vector<std::wstring> argv = SplitLikeThePlatform(line);
        ASSERT_EQ(4u, argv.size());
        EXPECT_EQ(L"C:\\Tools\\zel.exe", argv[0]);
        EXPECT_EQ(L"/service", argv[1]);
        EXPECT_EQ(L"/days:15", argv[2]);
        EXPECT_EQ(std::wstring(c.root), argv[3]);
    }
}

TEST_F(ServiceCommandLine, CarriesRetentionAndModuleFolderWithBlanks) {
    StringCchCopyW(ModuleDir, ARRAYSIZE(ModuleDir), L"C:\\Program Files\\Corvane");
    SetRoot(L"D:\\Backups");
    const std::pair<int, const wchar_t*> days[] = {
        {30, L"/days:30"}, {0, L"/days:0"}, {-3, L"/days:-3"},
        {2147483647, L"/days:2147483647"}, {-2147483647 - 1, L"/days:-2147483648"}};
    for (const auto& d : days) {
        RetentionDays = d.first;
        bool ok = false;
        DWORD error = 0;
        std::wstring line = Compose(&ok, &error);
        ASSERT_TRUE(ok) << "error " << error;
        EXPECT_EQ(L"\"C:\\Program Files\\Corvane\\zel.exe\" /service " + std::wstring(d.second) +
                      L" \"D:\\Backups\"",
                  line);
        std::vector<std::wstring> argv = SplitLikeThePlatform(line);
        ASSERT_EQ(4u, argv.size());
        EXPECT_EQ(L"C:\\Program Files\\Corvane\\zel.exe", argv[0]);
        EXPECT_EQ(std::wstring(d.second), argv[2]);
        EXPECT_EQ(L"D:\\Backups", argv[3]);
    }
}

TEST_F(ServiceCommandLine, RefusesAPathWithADoubleQuote) {
    SetRoot(L"C:\\a\"b");
    bool ok = true;
    DWORD error = 0;
    std::wstring line = Compose(&ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
    EXPECT_EQ(L"", line);

    SetRoot(L"C:\\Backups");
    StringCchCopyW(ModuleDir, ARRAYSIZE(ModuleDir), L"C:\\To\"ols");
    line = Compose(&ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
    EXPECT_EQ(L"", line);
}

TEST_F(ServiceCommandLine, FillsTheBufferToTheLastCharacterAndNoFurther) {
    // "C:\Tools\zel.exe" /service /days:15 "..." with the quotes is 39
    // characters around the root; the buffer holds 2047 and the terminator.
    const std::wstring head = L"\"C:\\Tools\\zel.exe\" /service /days:15 ";
    const size_t around = head.size() + 2;
    std::wstring fits = L"D:\\" + std::wstring(LineCapacity - 1 - around - 3, L'a');
    SetRoot(fits);
    bool ok = false;
    DWORD error = 0;
    std::wstring line = Compose(&ok, &error);
    ASSERT_TRUE(ok) << "error " << error;
    EXPECT_EQ(LineCapacity - 1, line.size());
    EXPECT_EQ(head + L"\"" + fits + L"\"", line);

    SetRoot(fits + L"a");
    line = Compose(&ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), error);
    EXPECT_EQ(L"", line);

    // The root itself fits, but not once its trailing backslash is doubled.
    std::wstring slashed = fits;
    slashed.back() = L'\\';
    SetRoot(slashed);
    line = Compose(&ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), error);
    EXPECT_EQ(L"", line);
}

TEST_F(ServiceCommandLine, RefusesAModuleFolderTooLongToJoin) {
    std::wstring folder = L"C:\\" + std::wstring(300, L'm');
    StringCchCopyW(ModuleDir, ARRAYSIZE(ModuleDir), folder.c_str());
    SetRoot(L"D:\\Backups");
    bool ok = true;
    DWORD error = 0;
    std::wstring line = Compose(&ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), error);
    EXPECT_EQ(L"", line);
}

bool ServiceZelExists() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    ServiceHandle service(OpenServiceW(manager.get(), L"zel", SERVICE_QUERY_STATUS));
    return service.valid();
}

TEST_F(ServiceCommandLine, InstallRefusesALineThatDoesNotFitWithOneReport) {
    ASSERT_FALSE(ServiceZelExists());
    SetRoot(L"C:\\" + std::wstring(2100, L'r'));
    std::string printed;
    {
        StdoutCapture capture;
        EXPECT_EQ(0, InstallService());
        printed = capture.Bytes();
    }
    EXPECT_EQ("Error: Unable to install service [" + SystemText(ERROR_FILENAME_EXCED_RANGE) +
                  "]\r\n",
              printed);
    EXPECT_FALSE(ServiceZelExists());

    ServiceMode = true;
    {
        StdoutCapture capture;
        EXPECT_EQ(0, InstallService());
        printed = capture.Bytes();
    }
    EXPECT_EQ("", printed);
    EXPECT_FALSE(ServiceZelExists());
}

TEST_F(ServiceCommandLine, InstallRefusesARootWithADoubleQuote) {
    ASSERT_FALSE(ServiceZelExists());
    SetRoot(L"C:\\a\"b");
    std::string printed;
    {
        StdoutCapture capture;
        EXPECT_EQ(0, InstallService());
        printed = capture.Bytes();
    }
    EXPECT_EQ("Error: Unable to install service [" + SystemText(ERROR_INVALID_PARAMETER) + "]\r\n",
              printed);
    EXPECT_FALSE(ServiceZelExists());
}

// zel.exe reads the composed line back: the same tail with /u in place of
// /service makes it print the root it read (no service exists here, so the
// removal only reports that).
TEST_F(ServiceCommandLine, ZelReadsBackTheRootItWasInstalledWith) {
    ASSERT_FALSE(ServiceZelExists());
    ScratchFolder scratch(L"zel cmd");
    std::wstring zel = ZelPath();
    StringCchCopyW(ModuleDir, ARRAYSIZE(ModuleDir), zel.substr(0, zel.rfind(L'\\')).c_str());
    RetentionDays = 30;

    const std::wstring roots[] = {
        scratch / L"My Backups",
        scratch / L"My Backups\\",
        scratch / L"100% sure",
        scratch.path() + L"\\\\",
        L"D:\\",
    };
    for (const std::wstring& root : roots) {
        SCOPED_TRACE(Narrow(root));
        SetRoot(root);
        bool ok = false;
        DWORD error = 0;
        std::wstring line = Compose(&ok, &error);
        ASSERT_TRUE(ok) << "error " << error;
        size_t option = line.find(L" /service ");
        ASSERT_NE(std::wstring::npos, option);
        line.replace(option, 10, L" /u ");

        ProcessResult run = RunProcess(line);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(UninstallOutputWithoutService(root), run.output);
    }
}

}  // namespace
