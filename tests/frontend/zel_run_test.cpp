// zel.exe run as a program: usage and refusals, banner and root line, root folder.
#include <gtest/gtest.h>

#include <string>

#include "app/owned_handle.h"
#include "app/process_state.h"
#include "support/child_process.h"
#include "support/scratch.h"

namespace {

const char UsageText[] =
    "Syntax: zel.exe[options] backup_path\r\n"
    "/i - install as a service\r\n"
    "/u - uninstall service\r\n"
    "/days:n - delete backup folders older than n days(default: 15)\r\n";

const char BannerLine[] = "ZEL - Corvane v1.20\r\n";

// A whole report line: the system's text for the code, or "Error # N" (N signed).
std::string ReportLine(const std::string& prefix, DWORD code) {
    std::string text = SystemText(code);
    if (text.empty()) text = "Error # " + std::to_string(static_cast<int>(code));
    return prefix + " [" + text + "]\r\n";
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

bool FolderIsEmpty(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    int names = find ? 1 : 0;
    while (find && FindNextFileW(find.get(), &entry)) ++names;
    return names == 2;  // "." and ".."
}

TEST(Usage, EndsAtTheCommandLineWithUsageOrReport) {
    const std::string refused = ReportLine("/x", ERROR_INVALID_PARAMETER) + UsageText;
    const struct {
        const wchar_t* arguments;
        std::string output;
    } cases[] = {
        {L"/?", UsageText},
        {L"/x", refused},
        {L"/I", ReportLine("/I", ERROR_INVALID_PARAMETER) + UsageText},
        {L"/DAYS:5", ReportLine("/DAYS:5", ERROR_INVALID_PARAMETER) + UsageText},
        {L"/days", ReportLine("/days", ERROR_INVALID_PARAMETER) + UsageText},
        {L"/service /x", ""},
        {L"/x /service", refused},
    };
    ScratchFolder scratch(L"zelusage");
    for (const auto& one : cases) {
        SCOPED_TRACE(Narrow(one.arguments));
        ProcessResult run = RunZel(Quoted(scratch / L"root") + L" " + one.arguments);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(one.output, run.output);
        EXPECT_TRUE(FolderIsEmpty(scratch.path()));
    }
}

// `output` is one report on the beginning of `argument`, kept under the
// 4096-character line, then the usage.
::testing::AssertionResult IsCutReportThenUsage(const std::string& output,
                                                const std::string& argument, DWORD code) {
    const std::string tail = ReportLine("", code) + UsageText;
    const size_t kept = output.size() - tail.size();
    if (output.size() <= tail.size() || output.compare(kept, tail.size(), tail) != 0 ||
        kept >= argument.size() || output.compare(0, kept, argument, 0, kept) != 0 ||
        kept + ReportLine("", code).size() - 2 >= 4096) {
        return ::testing::AssertionFailure() << output.size() << " bytes: " << output;
    }
    return ::testing::AssertionSuccess();
}

TEST(Usage, ArgumentsTooLongAreRefusedWithACutReport) {
    ScratchFolder scratch(L"zelusage");
    std::wstring path = scratch.path() + L"\\";
    path.append(ARRAYSIZE(BackupRoot) - path.size(), L'a');
    const struct {
        std::wstring argument;
        DWORD code;
    } cases[] = {
        {path, ERROR_FILENAME_EXCED_RANGE},
        {L"/" + std::wstring(5000, L'y'), ERROR_INVALID_PARAMETER},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.argument.size());
        ProcessResult run = RunZel(Quoted(one.argument) + L" /days:3");
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(IsCutReportThenUsage(run.output, Narrow(one.argument), one.code));
    }
    EXPECT_TRUE(FolderIsEmpty(scratch.path()));
}

// Runs zel.exe with standard output on a file; its exit code, or 0xDEADBEEF
// when it could not be run.
DWORD RunZelIntoFile(const std::wstring& arguments, const std::wstring& outputPath) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    FileHandle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, 0, nullptr));
    if (!output) return 0xDEADBEEF;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring line = Quoted(ZelPath()) + L" " + arguments;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 0xDEADBEEF;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    DWORD exitCode = 0xDEADBEEF;
    if (WaitForSingleObject(processHandle.get(), 600000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(processHandle.get(), &exitCode);
    }
    return exitCode;
}

// Today's backup exists, so the run ends after the root line.
TEST(RunOutput, OutputIntoAFileHasCrLfLineEndsAndNothingElse) {
    ScratchFolder scratch(L"zelrun");
    const std::wstring root = scratch / L"root";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\" + TodayFolderName()).c_str(), nullptr));
    const struct {
        std::wstring arguments;
        std::string output;
    } cases[] = {
        {L"/days:30 " + Quoted(root), BannerLine + Narrow(root) + "\r\n"},
        {Quoted(root) + L" /days:1 /x", ReportLine("/x", ERROR_INVALID_PARAMETER) + UsageText},
    };
    for (const auto& one : cases) {
        const std::wstring outputPath = scratch / L"output.txt";
        ASSERT_EQ(0u, RunZelIntoFile(one.arguments, outputPath));
        bool read = false;
        EXPECT_EQ(one.output, ReadFileBytes(outputPath, &read));
        EXPECT_TRUE(read);
    }
}

TEST(RunOutput, DefaultRootIsZelInTheWindowsFolder) {
    const std::wstring root = WindowsDir() + L"\\ZEL";
    const std::wstring today = root + L"\\" + TodayFolderName();
    const bool rootExisted = FolderExists(root);
    const bool todayExisted = FolderExists(today);

    ProcessResult run = RunZel(L"");
    const bool rootMade = FolderExists(root);
    if (!rootExisted) {
        RemoveTree(root);
    } else if (!todayExisted) {
        RemoveTree(today);
    }

    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    const std::string expected = BannerLine + Narrow(root) + "\r\n";
    EXPECT_EQ(expected, run.output.substr(0, expected.size()));
    EXPECT_TRUE(rootMade);
    EXPECT_EQ(rootExisted, FolderExists(root));
    EXPECT_EQ(todayExisted, FolderExists(today));
}

}  // namespace
