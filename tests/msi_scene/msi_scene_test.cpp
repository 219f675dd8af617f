// The Windows Installer package as Wine's own msiexec installs, upgrades and
// removes it. This Wine cannot start 32-bit programs, so the packages here
// are the release's twins: res/zel.wxs packed by scripts/package --twin with
// the 64-bit zel.exe and actions DLL, at this version and one build above.
#include <windows.h>

#include <msi.h>

#include "support/support.h"

namespace {

const wchar_t ServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\zel";
const wchar_t SourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\zel";
const wchar_t UpgradeCode[] = L"{69141C0A-B280-44A8-A390-9CF46C38943D}";  // every version's

DWORD Msiexec(const std::wstring& action, const wchar_t* package, const std::wstring& more = L"") {
    return RunProgram(SystemDirectory() + L"\\msiexec.exe",
                      action + L" \"" + BuiltProgram(package) + L"\" /qn " + more)
        .exitCode;
}

// The versions of the installed products that carry zel's upgrade code.
Strings InstalledVersions() {
    Strings versions;
    wchar_t product[39], version[64];
    for (DWORD i = 0; MsiEnumRelatedProductsW(UpgradeCode, 0, i, product) == ERROR_SUCCESS; ++i) {
        DWORD size = ARRAYSIZE(version);
        MsiGetProductInfoW(product, INSTALLPROPERTY_VERSIONSTRING, version, &size);
        versions.push_back(Narrow(version));
    }
    return versions;
}

TEST(InstallRunUpgradeAndRemove) {
    AtEnd removeAll{[] {
        for (const wchar_t* package : {L"zel-twin.msi", L"zel-twin-next.msi"})
            Msiexec(L"/x", package);
    }};
    wchar_t programFiles[MAX_PATH], computer[MAX_COMPUTERNAME_LENGTH + 1];
    GetEnvironmentVariableW(L"ProgramFiles(x86)", programFiles, MAX_PATH);
    DWORD length = ARRAYSIZE(computer);
    REQUIRE(GetComputerNameW(computer, &length));
    const std::wstring folder = std::wstring(programFiles) + L"\\zel";
    ScratchFolder scratch(L"zel msi");
    const std::wstring log = scratch / L"msi.log", root = scratch / computer;

    // A root the service could not carry fails the install with zel's own
    // words, and leaves nothing: no service, no programs, no root. Wine's
    // msiexec drops a quote from its command line, so the quote comes from
    // the environment, through the expansion of the root.
    SetEnvironmentVariableW(L"ZEL_TEST_ROOT", L"C:\\zel\"root");
    for (const wchar_t* refused : {L"C:\\zel%TEMP%root", L"[%ZEL_TEST_ROOT]"}) {
        Context row(refused);
        CHECK_EQ(DWORD(ERROR_INSTALL_FAILURE),
                 Msiexec(L"/i", L"zel-twin.msi",
                         L"BACKUPROOT=\"" + std::wstring(refused) + L"\" /le \"" + log + L"\""));
        CHECK(ReadFileBytes(log).find("zel.exe /i refused BACKUPROOT, DAYS or DAILY:") !=
              std::string::npos);
        CHECK(!OpenZelService(SERVICE_QUERY_STATUS) && !FolderExists(folder) &&
              !FolderExists(L"C:\\zel%TEMP%root"));
    }

    // The same registration as zel.exe /i, with [ComputerName] expanded.
    CHECK_EQ(0u, Msiexec(L"/i", L"zel-twin.msi",
                         L"BACKUPROOT=\"" + scratch.path() + L"\\[ComputerName]\" DAYS=7 DAILY=1"));
    CHECK_EQ((Names{L"revert.exe", L"revert_x64.exe", L"tidy.exe", L"tidy_x64.exe", L"zel.exe"}),
             ListTree(folder));
    const std::wstring line =
        L"\"" + folder + L"\\zel.exe\" /service /days:7 /daily \"" + root + L"\"";
    CHECK_EQ(line, ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));
    const Strings first = InstalledVersions();
    CHECK_EQ(size_t(1), first.size());

    // It stays after the day's backup, until it is stopped.
    ServiceHandle service = OpenZelService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    REQUIRE(StartServiceW(service.get(), 0, nullptr));
    const std::wstring backup = root + L"\\" + TodayFolderName() + L"\\sysdir.txt";
    for (int tries = 0; tries < 600 && !FileExists(backup); ++tries) Sleep(100);
    CHECK(FileExists(backup));
    SERVICE_STATUS status{};
    CHECK(QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING);
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    CHECK_EQ(DWORD(SERVICE_STOPPED), WaitForServiceState(service, SERVICE_STOPPED).dwCurrentState);
    service.reset();

    // A higher version takes the place of this one and keeps the settings.
    CHECK_EQ(0u, Msiexec(L"/i", L"zel-twin-next.msi"));
    const Strings next = InstalledVersions();
    CHECK(next.size() == 1 && next != first);
    CHECK_EQ(line, ReadStringValue(HKEY_LOCAL_MACHINE, ServiceKey, L"ImagePath"));

    // Removal takes the service, its event source and the programs; the
    // backups stay.
    CHECK_EQ(0u, Msiexec(L"/x", L"zel-twin-next.msi"));
    for (int tries = 0; tries < 100 && OpenZelService(SERVICE_QUERY_STATUS); ++tries) Sleep(100);
    CHECK(!OpenZelService(SERVICE_QUERY_STATUS) && !KeyExists(HKEY_LOCAL_MACHINE, SourceKey));
    CHECK(!FolderExists(folder) && InstalledVersions().empty() && FileExists(backup));
}

}  // namespace
