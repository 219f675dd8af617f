#include <gtest/gtest.h>

#include <string>

#include "support/child_process.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"

namespace {

// startup_probe.exe is zel.exe's start-up code with zel.exe's resources. Wine
// picks its version setting by file name, so the probe runs as "zel.exe".
TEST(StartupVersionScan, ReachesTheVersionWineReportsToZel) {
    ScratchFolder scratch(L"zelprobe");
    const std::wstring probe = ZelPath().substr(0, ZelPath().size() - 7) + L"startup_probe.exe";
    const std::wstring copy = scratch / L"zel.exe";
    ASSERT_TRUE(CopyFileW(probe.c_str(), copy.c_str(), TRUE)) << GetLastError();

    const struct {
        const wchar_t* wine;
        const char* expected;
    } cases[] = {
        {L"winxp", "5.1"}, {L"vista", "6.0"}, {L"win7", "6.1"},
        {L"win8", "6.2"},  {L"win81", "6.3"}, {L"win10", "10.0"},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(Narrow(one.wine));
        ScopedWineVersion version(one.wine);
        ProcessResult run = RunZelAt(copy, L"");
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(one.expected, run.output);
    }
}

}  // namespace
