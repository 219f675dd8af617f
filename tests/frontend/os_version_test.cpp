#include <gtest/gtest.h>

#include <string>

#include "app/os_version.h"
#include "support/child_process.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"

namespace {

// What this process is told by the platform; no manifest of its own, so it
// is Wine's default version for unknown programs.
OSVERSIONINFOEXW ReportedVersion() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
#pragma GCC diagnostic pop
    return info;
}

TEST(IsOsVersion, ComparesMajorThenMinorThenServicePack) {
    const OSVERSIONINFOEXW running = ReportedVersion();
    const WORD major = static_cast<WORD>(running.dwMajorVersion);
    const WORD minor = static_cast<WORD>(running.dwMinorVersion);
    const WORD pack = running.wServicePackMajor;
    ASSERT_GE(major, 6);
    ASSERT_GE(minor, 1);

    EXPECT_TRUE(IsOsVersion(5, 0, 0));
    EXPECT_TRUE(IsOsVersion(major, minor, pack));
    EXPECT_FALSE(IsOsVersion(major, minor, pack + 1));
    EXPECT_FALSE(IsOsVersion(major, minor + 1, 0));
    EXPECT_FALSE(IsOsVersion(major + 1, 0, 0));
    EXPECT_TRUE(IsOsVersion(major, minor - 1, 5));
    EXPECT_TRUE(IsOsVersion(major - 1, 6, 5));
}

TEST(DetectOsVersion, LandsOnTheReportedVersion) {
    const OSVERSIONINFOEXW running = ReportedVersion();
    ASSERT_LE(running.wServicePackMajor, 5);
    DWORD major = 0xdeadbeef;
    DWORD minor = 0xdeadbeef;
    WORD pack = 0xbeef;
    DetectOsVersion(&major, &minor, &pack);
    EXPECT_EQ(running.dwMajorVersion, major);
    EXPECT_EQ(running.dwMinorVersion, minor);
    EXPECT_EQ(running.wServicePackMajor, pack);
}

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
