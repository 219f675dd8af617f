// zel.exe runs that get past the command line: banner, root line, the root
// folder, and the bytes of redirected output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "frontend/frontend_expect.h"
#include "support/child_process.h"

namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The first two lines of `output`, CR LF included.
std::string FirstTwoLines(const std::string& output) {
    std::string first = FirstLine(output);
    return first + FirstLine(output.substr(first.size()));
}

// Runs zel.exe with standard output on a file of its own; exit code or
// 0xDEADBEEF when it could not be started.
DWORD RunZelIntoFile(const std::wstring& arguments, const std::wstring& outputPath) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    FileHandle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, 0, nullptr));
    FileHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));
    if (!output || !nul) return 0xDEADBEEF;

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = output.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring text = Quoted(ZelPath()) + L" " + arguments;
    std::vector<wchar_t> line(text.begin(), text.end());
    line.push_back(L'\0');
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

TEST(RunOutput, BannerThenRootWhenTodaysBackupExists) {
    ScratchFolder scratch(L"zelrun");
    const std::wstring root = scratch / L"root";
    const std::wstring today = root + L"\\" + TodayFolderName();
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(today.c_str(), nullptr));

    ProcessResult run = RunZel(L"/days:30 " + Quoted(root));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(BannerLine + Narrow(root) + "\r\n", run.output);
    EXPECT_TRUE(FolderExists(today));
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
    EXPECT_EQ(BannerLine + Narrow(root) + "\r\n", FirstTwoLines(run.output));
    EXPECT_TRUE(rootMade);
    EXPECT_EQ(rootExisted, FolderExists(root));
    EXPECT_EQ(todayExisted, FolderExists(today));
}

TEST(RunOutput, RootWithPercentSignsIsPrintedUnchangedAndCreated) {
    ScratchFolder scratch(L"zelrun");
    const std::wstring root = scratch / L"50%done%s%d";
    ProcessResult run = RunZel(Quoted(root));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(BannerLine + Narrow(root) + "\r\n", FirstTwoLines(run.output));
    EXPECT_TRUE(FolderExists(root));
}

TEST(RunOutput, OutputIntoAFileHasCrLfLineEndsAndNothingElse) {
    ScratchFolder scratch(L"zelrun");
    const std::wstring outputPath = scratch / L"output.txt";
    const std::wstring root = scratch / L"root";
    ASSERT_EQ(0u, RunZelIntoFile(Quoted(root) + L" /days:1 /x", outputPath));
    bool read = false;
    const std::string bytes = ReadFileBytes(outputPath, &read);
    ASSERT_TRUE(read);
    EXPECT_EQ(ReportLine("/x", ERROR_INVALID_PARAMETER) + UsageText, bytes);
    EXPECT_EQ(std::string::npos, bytes.find("\r\r"));
    size_t lineEnds = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++lineEnds;
            EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare line feed at " << i;
        } else if (bytes[i] == '\r') {
            EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare return at " << i;
        }
    }
    EXPECT_EQ(5u, lineEnds);
    EXPECT_FALSE(FolderExists(root));
}

TEST(RunOutput, BannerAndRootIntoAFileHaveCrLfLineEnds) {
    ScratchFolder scratch(L"zelrun");
    const std::wstring outputPath = scratch / L"output.txt";
    const std::wstring root = scratch / L"root";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\" + TodayFolderName()).c_str(), nullptr));
    ASSERT_EQ(0u, RunZelIntoFile(Quoted(root), outputPath));
    EXPECT_EQ(BannerLine + Narrow(root) + "\r\n", ReadFileBytes(outputPath));
}

}  // namespace
