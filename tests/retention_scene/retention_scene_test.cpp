// Retention as zel.exe runs it: only old backups and empty dated folders go,
// the newest backup stays until a newer one stands, and nothing outside a
// backup is ever reached through a name or a link inside it.
#include <windows.h>

#include <string>
#include <vector>

#include "shared/owned_handle.h"
#include "support/check.h"
#include "support/child_process.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"

namespace {

using Names = std::vector<std::wstring>;

std::wstring DateName(int daysAgo) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME time;
    SystemTimeToFileTime(&now, &time);
    ULARGE_INTEGER value{{time.dwLowDateTime, time.dwHighDateTime}};
    value.QuadPart -= daysAgo * 86400ULL * 10000000;
    time = {value.LowPart, value.HighPart};
    FileTimeToSystemTime(&time, &now);
    wchar_t name[16];
    swprintf(name, 16, L"%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);
    return name;
}

// A finished backup: its files carry the attributes that stop a plain delete.
void MakeBackup(const std::wstring& folder, double age) {
    WriteFileBytes(folder + L"\\SAM", "regf");
    SetFileAttributesW((folder + L"\\SAM").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    WriteFileBytes(folder + L"\\S-1-5-21-1\\deeper\\NTUSER.DAT", "regf");
    SetFileAttributesW((folder + L"\\S-1-5-21-1").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    WriteFileBytes(folder + L"\\sysdir.txt", Utf16Bytes(L"\\windows\\system32"));
    AgeFolder(folder, age);
}

ProcessResult Run(const std::wstring& root, const std::wstring& days) {
    return RunZel(days + L" \"" + root + L"\"");
}

TEST(OldBackupsGoTheNewestStaysNothingOutsideIsReached) {
    ScopedWineVersion version(L"win10");
    ScratchFolder scratch(L"zelpurge");
    const std::wstring root = scratch / L"root", today = root + L"\\" + TodayFolderName();
    const std::wstring newest = root + L"\\" + DateName(16), older = root + L"\\" + DateName(20);
    const std::wstring hostile = root + L"\\" + DateName(25), photos = root + L"\\2001-01-01";
    const std::wstring outside = scratch / L"outside";
    MakeBackup(newest, 16);
    MakeBackup(older, 20);
    WriteFileBytes(outside + L"\\kept.txt", "outside");
    WriteFileBytes(scratch / L"victim.txt", "victim");
    WriteFileBytes(photos + L"\\photo.jpg", "jpeg");
    AgeFolder(photos, 30);
    CreateDirectoryW((root + L"\\2001-01-02").c_str(), nullptr);
    AgeFolder(root + L"\\2001-01-02", 30);
    WriteFileBytes(root + L"\\2001-01-03", "a file, not a backup");
    Names young;
    for (int day = 1; day <= 14; ++day) {
        young.push_back(root + L"\\" + DateName(day));
        CreateDirectoryW(young.back().c_str(), nullptr);
        AgeFolder(young.back(), day);
    }
    // Names no Windows file system holds, made on the host: joined, they
    // would reach the scratch folder above the root.
    MakeBackup(hostile, 25);
    RunHostTool(L"Z:\\bin\\mkdir \"" + HostPath(hostile) + L"/..\\..\"");
    RunHostTool(L"Z:\\bin\\touch \"" + HostPath(hostile) + L"/..\\..\\victim.txt\"");
    // A link is removed as a link (Wine cannot remove one to a folder that
    // holds something, so this backup stays too), never followed.
    RunHostTool(L"Z:\\bin\\ln -s " + HostPath(outside) + L" " + HostPath(hostile) + L"/link");
    AgeFolder(hostile, 25);
    const Names before = ListTree(root);

    // A value that is not a number deletes nothing.
    ProcessResult refused = Run(root, L"/days:abc");
    CHECK_EQ(1u, refused.exitCode);
    CHECK_EQ(before, ListTree(root));

    // A run that dies after the purge: the newest backup, though old, stands.
    REQUIRE(KillZelMidway(L"/days:15 \"" + root + L"\""));
    CHECK(FileExists(newest + L"\\sysdir.txt"));
    CHECK(!FolderExists(older));
    CHECK(!FolderExists(root + L"\\2001-01-02"));
    CHECK_EQ(std::string("jpeg"), ReadFileBytes(photos + L"\\photo.jpg"));
    CHECK_EQ(std::string("outside"), ReadFileBytes(outside + L"\\kept.txt"));
    CHECK_EQ(std::string("victim"), ReadFileBytes(scratch / L"victim.txt"));
    CHECK_EQ(std::string("a file, not a backup"), ReadFileBytes(root + L"\\2001-01-03"));
    CHECK(FolderExists(hostile) && !FileExists(hostile + L"\\SAM"));
    for (const std::wstring& folder : young) CHECK(FolderExists(folder));

    // Once today's backup stands, the old newest one goes.
    ProcessResult run = Run(root, L"/days:15");
    CHECK_EQ(2u, run.exitCode);
    CHECK(FileExists(today + L"\\sysdir.txt"));
    CHECK(!FolderExists(newest));
    for (const std::wstring& folder : young) CHECK(FolderExists(folder));

    // With /days:0 a fresh backup replaces today's, then the rest goes; a
    // run that dies before its backup stands leaves today's as it was.
    REQUIRE(WriteFileBytes(today + L"\\marker", "from the first run"));
    REQUIRE(KillZelMidway(L"/days:0 \"" + root + L"\""));
    CHECK(FileExists(today + L"\\marker") && FileExists(today + L"\\sysdir.txt"));
    run = Run(root, L"/days:0");
    CHECK_EQ(2u, run.exitCode);
    CHECK(FileExists(today + L"\\sysdir.txt") && !FileExists(today + L"\\marker"));
    for (const std::wstring& folder : young) CHECK(!FolderExists(folder));
    CHECK_EQ(std::string("jpeg"), ReadFileBytes(photos + L"\\photo.jpg"));
    Names top;
    for (const std::wstring& entry : ListTree(root))
        if (entry.find(L'\\') >= entry.size() - 1) top.push_back(entry);
    CHECK_EQ((Names{L"2001-01-01\\", L"2001-01-03", DateName(25) + L"\\", TodayFolderName() + L"\\"}), top);
    CHECK_EQ(std::string("victim"), ReadFileBytes(scratch / L"victim.txt"));
}

}  // namespace
