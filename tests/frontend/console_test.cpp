#include <gtest/gtest.h>

#include <string>

#include "app/process_state.h"
#include "frontend/frontend_expect.h"
#include "report/console.h"
#include "resource_ids.h"
#include "support/stdout_capture.h"

namespace {

// Console procedures print through the test program's own copy of the
// string table; ServiceMode is put back after every test.
class Console : public ::testing::Test {
protected:
    void SetUp() override {
        savedServiceMode_ = ServiceMode;
        ServiceMode = false;
    }
    void TearDown() override { ServiceMode = savedServiceMode_; }

private:
    bool savedServiceMode_ = false;
};

TEST_F(Console, PrintLineWritesTextUnchangedWithOneCrLf) {
    StdoutCapture capture;
    PrintLine(L"%s 100%");
    PrintLine(L"");
    PrintLine(L"C:\\50%done%d");
    EXPECT_EQ("%s 100%\r\n\r\nC:\\50%done%d\r\n", capture.Bytes());
}

TEST_F(Console, PrintErrorJoinsPrefixAndSystemText) {
    ASSERT_FALSE(SystemText(ERROR_INVALID_PARAMETER).empty());
    StdoutCapture capture;
    PrintError(ERROR_INVALID_PARAMETER, L"/x");
    EXPECT_EQ("/x [" + SystemText(ERROR_INVALID_PARAMETER) + "]\r\n", capture.Bytes());
}

TEST_F(Console, PrintErrorFallsBackToTheErrorNumber) {
    ASSERT_EQ("", SystemText(0x2000FFFF));
    ASSERT_EQ("", SystemText(0x80000000));
    StdoutCapture capture;
    PrintError(0x2000FFFF, L"prefix");
    PrintError(0x80000000, L"prefix");
    PrintError(0xFFFFFFFF, L"");
    EXPECT_EQ(
        "prefix [Error # 536936447]\r\n"
        "prefix [Error # -2147483648]\r\n"
        " [" + ReportText(0xFFFFFFFF) + "]\r\n",
        capture.Bytes());
}

TEST_F(Console, PrintErrorKeepsPercentSignsOfThePrefix) {
    StdoutCapture capture;
    PrintError(ERROR_ACCESS_DENIED, L"%s%d%n 100%");
    EXPECT_EQ(ReportLine("%s%d%n 100%", ERROR_ACCESS_DENIED), capture.Bytes());
}

TEST_F(Console, PrintErrorCutsALongPrefixAndKeepsTheLineWhole) {
    std::wstring prefix(5000, L'p');
    prefix[0] = L'/';
    prefix.back() = L'z';
    StdoutCapture capture;
    PrintError(ERROR_INVALID_PARAMETER, prefix.c_str());
    const std::string bytes = capture.Bytes();
    EXPECT_EQ(bytes, FirstLine(bytes)) << "more than one line";
    EXPECT_TRUE(IsCutReport(bytes, Narrow(prefix), ERROR_INVALID_PARAMETER));
}

TEST_F(Console, PrintResourcePrintsTheStringOrAnEmptyLine) {
    StdoutCapture capture;
    PrintResource(IDS_UNABLE_TO_SET_RESTORE);
    PrintResource(200);
    PrintResource(IDS_UNABLE_TO_SET_BACKUP);
    EXPECT_EQ("(!) Unable to set SeRestore\r\n\r\n(!) Unable to set SeBackup\r\n", capture.Bytes());
}

TEST_F(Console, HiveLinesUseStrings339And340) {
    StdoutCapture capture;
    PrintHiveSaved(L"S-1-5-20_Classes");
    PrintHiveFailed(L"SYSTEM", ERROR_ACCESS_DENIED);
    EXPECT_EQ("Backup of S-1-5-20_Classes successfully completed\r\n" +
                  ReportLine("Saving error SYSTEM ", ERROR_ACCESS_DENIED),
              capture.Bytes());
}

TEST_F(Console, ServiceModeSilencesEveryPrintingProcedure) {
    ServiceMode = true;
    StdoutCapture capture;
    PrintLine(L"line");
    PrintLine(L"");
    PrintError(ERROR_INVALID_PARAMETER, L"/x");
    PrintError(0x2000FFFF, L"prefix");
    PrintResource(IDS_ERROR_NUMBER);
    PrintResource(200);
    PrintHiveSaved(L"SYSTEM");
    PrintHiveFailed(L"SYSTEM", ERROR_ACCESS_DENIED);
    EXPECT_EQ("", capture.Bytes());
}

TEST(FormatText, FormatsAndCutsToTheCapacity) {
    wchar_t buffer[16];
    wmemset(buffer, L'#', ARRAYSIZE(buffer));
    FormatText(buffer, ARRAYSIZE(buffer), L"\\%04d-%02d-%02d", 2024, 3, 7);
    EXPECT_STREQ(L"\\2024-03-07", buffer);
    EXPECT_EQ(L'#', buffer[12]);

    wmemset(buffer, L'#', ARRAYSIZE(buffer));
    FormatText(buffer, 8, L"%s", L"abcdefghijkl");
    EXPECT_STREQ(L"abcdefg", buffer);
    EXPECT_EQ(L'#', buffer[8]);
}

TEST(LoadResourceText, AMissingIdGivesAnEmptyText) {
    wchar_t buffer[64];
    wmemset(buffer, L'#', ARRAYSIZE(buffer));
    LoadResourceText(202, buffer, ARRAYSIZE(buffer));
    EXPECT_EQ(L'\0', buffer[0]);
    LoadResourceText(IDS_SAVING_ERROR, buffer, ARRAYSIZE(buffer));
    EXPECT_STREQ(L"Saving error %s ", buffer);
}

}  // namespace
