// The 32-bit release itself, run by this 64-bit Wine as a WOW64 process,
// against facts only a correct WOW64 road produces.
#include "support/support.h"

namespace {

std::wstring Release(const wchar_t* name) {
    wchar_t full[MAX_PATH];
    GetFullPathNameW(BuiltProgram(std::wstring(L"..\\x86\\") + name).c_str(), MAX_PATH, full,
                     nullptr);
    return full;
}

TEST(ReleaseRunsAsWow64Process) {
    const std::wstring zel32 = Release(L"zel.exe");
    if (!FileExists(zel32)) return Skip("no 32-bit release at " + Narrow(zel32));
    if (RunProgram(zel32, L"/?").exitCode != 0)
        return Skip(
            "this Wine cannot start 32-bit programs: scripts/setup puts Wine's i386 DLLs in "
            "build/wine-i386, "
            "and the prefix must be made with WINEDLLPATH pointing there");
    REQUIRE(!FolderExists(WindowsDir() + L"\\system32\\config"));
    AtEnd removeConfig{[] {
        RemoveTree(WindowsDir() + L"\\system32\\config");
        RemoveTree(WindowsDir() + L"\\syswow64\\config");
    }};
    // Each system folder gets its own SAM and its own bcdedit.exe.
    REQUIRE(WriteFileBytes(WindowsDir() + L"\\system32\\config\\SAM",
                           ReadFileBytes(HiveFile(L"good.hive"))));
    REQUIRE(WriteFileBytes(WindowsDir() + L"\\syswow64\\config\\SAM",
                           ReadFileBytes(HiveFile(L"minimal.hive"))));
    BcdEditStandIn bcdedit;
    ScratchFolder scratch(L"zelwow");
    const std::wstring day = L"\\" + TodayFolderName();
    const std::wstring root64 = scratch / L"x64", root32 = scratch / L"x86";

    ProcessResult run64 = RunZel(L"\"" + root64 + L"\"");
    ProcessResult run32 = RunProgram(zel32, L"\"" + root32 + L"\"");
    CHECK_EQ(2u, run32.exitCode);
    Strings lines64 = Lines(run64.output), lines32 = Lines(run32.output);
    REQUIRE(lines64.size() > 2 && lines32.size() > 2);
    CHECK_EQ(Narrow(root32), lines32[1]);
    CHECK_EQ(Strings(lines64.begin() + 2, lines64.end()),
             Strings(lines32.begin() + 2, lines32.end()));
    CHECK_EQ(std::string("system32\r\nsystem32\r\n"), bcdedit.Ran());
    const std::string software = ReadFileBytes(root32 + day + L"\\SOFTWARE");
    CHECK(software.find("#arch=win64") != std::string::npos);
    CHECK(software.find("Wow6432Node") != std::string::npos);
    CHECK_EQ(ReadFileBytes(root64 + day + L"\\SOFTWARE"), software);
    CHECK_EQ(ReadFileBytes(HiveFile(L"good.hive")), ReadFileBytes(root32 + day + L"\\SAM"));
    CHECK_EQ(Utf16Bytes(L"\\windows\\system32"), ReadFileBytes(root32 + day + L"\\sysdir.txt"));

    // The service the 32-bit zel installs runs it and makes the day's backup.
    const std::wstring serviceRoot = scratch / L"service";
    CHECK_EQ(0u, RunProgram(zel32, L"/i \"" + serviceRoot + L"\"").exitCode);
    ServiceHandle service = OpenZelService(SERVICE_START | SERVICE_QUERY_STATUS);
    CHECK(StartServiceW(service.get(), 0, nullptr));
    CHECK_EQ(DWORD(SERVICE_STOPPED), WaitForServiceState(service, SERVICE_STOPPED).dwCurrentState);
    CHECK(FileExists(serviceRoot + day + L"\\sysdir.txt"));
    CHECK_EQ(0u, RunProgram(zel32, L"/u").exitCode);
}

}  // namespace
