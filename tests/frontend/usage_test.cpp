#include <gtest/gtest.h>

#include "support/child_process.h"

namespace {

const char Usage[] =
    "Syntax: zel.exe[options] backup_path\r\n"
    "/i - install as a service\r\n"
    "/u - uninstall service\r\n"
    "/days:n - delete backup folders older than n days(default: 15)\r\n";

TEST(Usage, QuestionMarkPrintsExactlyTheFourUsageLines) {
    ProcessResult run = RunZel(L"/?");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Usage, run.output);
}

}  // namespace
