// zel.exe runs that end at the command line: usage, refused options and
// refused paths. None of them may create the backup root.
#include <gtest/gtest.h>

#include <string>

#include "app/owned_handle.h"
#include "frontend/frontend_expect.h"
#include "support/child_process.h"

namespace {

bool FolderIsEmpty(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return false;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") return false;
    } while (FindNextFileW(find.get(), &entry));
    return true;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

TEST(Usage, QuestionMarkPrintsExactlyTheFourUsageLines) {
    ProcessResult run = RunZel(L"/?");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(UsageText, run.output);
}

TEST(Usage, UnrecognisedOptionsPrintTheReportAndTheUsageAndCreateNothing) {
    ScratchFolder scratch(L"zelusage");
    const std::wstring root = scratch / L"root";
    for (const wchar_t* option : {L"/x", L"/I", L"/DAYS:5", L"/days", L"/Service"}) {
        SCOPED_TRACE(Narrow(option));
        ProcessResult run = RunZel(Quoted(root) + L" " + option);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(ReportLine(Narrow(option), ERROR_INVALID_PARAMETER) + UsageText, run.output);
        EXPECT_FALSE(FolderExists(root));
    }
    EXPECT_TRUE(FolderIsEmpty(scratch.path()));
}

TEST(Usage, ServiceBeforeAnUnrecognisedOptionPrintsNothing) {
    ScratchFolder scratch(L"zelusage");
    const std::wstring root = scratch / L"root";
    ProcessResult run = RunZel(Quoted(root) + L" /service /x");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.output);
    EXPECT_TRUE(FolderIsEmpty(scratch.path()));
}

TEST(Usage, ServiceAfterAnUnrecognisedOptionIsNeverRead) {
    ScratchFolder scratch(L"zelusage");
    const std::wstring root = scratch / L"root";
    ProcessResult run = RunZel(Quoted(root) + L" /x /service");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(ReportLine("/x", ERROR_INVALID_PARAMETER) + UsageText, run.output);
    EXPECT_TRUE(FolderIsEmpty(scratch.path()));
}

TEST(Usage, APathTooLongForTheRootIsRefusedWithError206) {
    ScratchFolder scratch(L"zelusage");
    std::wstring path = scratch.path() + L"\\";
    path.append(5000 - path.size(), L'a');
    ASSERT_EQ(5000u, path.size());
    ProcessResult run = RunZel(Quoted(path) + L" /days:3");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    const std::string line = FirstLine(run.output);
    EXPECT_TRUE(IsCutReport(line, Narrow(path), ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(UsageText, run.output.substr(line.size()));
    EXPECT_TRUE(FolderIsEmpty(scratch.path()));
}

TEST(Usage, AVeryLongUnrecognisedOptionIsReportedCutToFit) {
    ScratchFolder scratch(L"zelusage");
    const std::wstring option = L"/" + std::wstring(5000, L'y');
    ProcessResult run = RunZel(Quoted(scratch / L"root") + L" " + option);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    const std::string line = FirstLine(run.output);
    EXPECT_TRUE(IsCutReport(line, Narrow(option), ERROR_INVALID_PARAMETER));
    EXPECT_EQ(UsageText, run.output.substr(line.size()));
    EXPECT_TRUE(FolderIsEmpty(scratch.path()));
}

}  // namespace
