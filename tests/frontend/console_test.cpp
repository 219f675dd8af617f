#include <gtest/gtest.h>

#include <string>

#include "app/process_state.h"
#include "report/console.h"
#include "resource_ids.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

// These print through the test program's own copy of the string table.
TEST(Console, PrintErrorJoinsPrefixAndSystemTextOrTheSignedNumber) {
    ASSERT_FALSE(SystemText(ERROR_INVALID_PARAMETER).empty());
    ASSERT_EQ("", SystemText(0x2000FFFF));
    ASSERT_EQ("", SystemText(0x80000000));
    StdoutCapture capture;
    PrintError(ERROR_INVALID_PARAMETER, L"/x");
    PrintError(0x2000FFFF, L"prefix");
    PrintError(0x80000000, L"prefix");
    EXPECT_EQ("/x [" + SystemText(ERROR_INVALID_PARAMETER) +
                  "]\r\n"
                  "prefix [Error # 536936447]\r\n"
                  "prefix [Error # -2147483648]\r\n",
              capture.Bytes());
}

TEST(Console, PrintLineKeepsPercentSignsAndAMissingResourceIsAnEmptyLine) {
    StdoutCapture capture;
    PrintLine(L"C:\\50%done%d %s");
    PrintResource(200);
    PrintResource(IDS_UNABLE_TO_SET_BACKUP);
    EXPECT_EQ("C:\\50%done%d %s\r\n\r\n(!) Unable to set SeBackup\r\n", capture.Bytes());
}

TEST(Console, ServiceModeSilencesEveryPrintingProcedure) {
    const bool savedServiceMode = ServiceMode;
    ServiceMode = true;
    StdoutCapture capture;
    PrintLine(L"line");
    PrintError(ERROR_INVALID_PARAMETER, L"/x");
    PrintResource(IDS_ERROR_NUMBER);
    PrintResource(200);
    PrintHiveSaved(L"SYSTEM");
    PrintHiveFailed(L"SYSTEM", ERROR_ACCESS_DENIED);
    const std::string printed = capture.Bytes();
    ServiceMode = savedServiceMode;
    EXPECT_EQ("", printed);
}

}  // namespace
