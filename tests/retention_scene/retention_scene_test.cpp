// Retention as zel.exe runs it: only old backups and empty dated folders go,
// the newest backup stays until a newer one stands, and nothing outside a
// backup is ever reached through a name or a link inside it.
#include "support/support.h"

namespace {

std::wstring DateName(int daysAgo) {
    SYSTEMTIME day;
    GetLocalTime(&day);
    ULARGE_INTEGER value;
    SystemTimeToFileTime(&day, reinterpret_cast<FILETIME*>(&value));
    value.QuadPart -= daysAgo * 86400ULL * 10000000;
    FileTimeToSystemTime(reinterpret_cast<FILETIME*>(&value), &day);
    wchar_t name[16];
    swprintf(name, 16, L"%04d-%02d-%02d", day.wYear, day.wMonth, day.wDay);
    return name;
}

// A finished backup: its files carry the attributes that stop a plain delete.
void MakeBackup(const std::wstring& folder, double age) {
    WriteFileBytes(folder + L"\\SAM", "regf");
    SetFileAttributesW((folder + L"\\SAM").c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    WriteFileBytes(folder + L"\\S-1-5-21-1\\deeper\\NTUSER.DAT", "regf");
    SetFileAttributesW((folder + L"\\S-1-5-21-1").c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
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
    const std::wstring newest = root + L"\\" + DateName(16), older = root + L"\\" + DateName(20),
                       outside = scratch / L"outside";
    const std::wstring hostile = root + L"\\" + DateName(25), photos = root + L"\\2001-01-01",
                       empty = root + L"\\2001-01-02";
    MakeBackup(newest, 16);
    MakeBackup(older, 20);
    WriteFileBytes(outside + L"\\kept.txt", "outside");
    WriteFileBytes(scratch / L"victim.txt", "victim");
    WriteFileBytes(photos + L"\\photo.jpg", "jpeg");
    CreateDirectoryW(empty.c_str(), nullptr);
    CHECK(AgeFolder(photos, 30) && AgeFolder(empty, 30));
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
    // An old dated name that is a link to a backup elsewhere is never walked.
    const std::wstring elsewhere = scratch / L"elsewhere";
    MakeBackup(elsewhere, 30);
    RunHostTool(L"Z:\\bin\\ln -s " + HostPath(elsewhere) + L" " + HostPath(root) + L"/" +
                DateName(30));
    const Names before = ListTree(root);

    CHECK_EQ(1u, Run(root, L"/days:abc").exitCode);  // a value that is not a number deletes nothing
    CHECK_EQ(before, ListTree(root));

    // A run that dies after the purge: the newest backup, though old, stands.
    REQUIRE(KillZelMidway(L"/days:15 \"" + root + L"\""));
    CHECK(FileExists(newest + L"\\sysdir.txt") && !FolderExists(older) && !FolderExists(empty));
    CHECK_EQ(std::string("jpeg"), ReadFileBytes(photos + L"\\photo.jpg"));
    CHECK_EQ(std::string("outside"), ReadFileBytes(outside + L"\\kept.txt"));
    CHECK_EQ(std::string("victim"), ReadFileBytes(scratch / L"victim.txt"));
    CHECK_EQ(std::string("a file, not a backup"), ReadFileBytes(root + L"\\2001-01-03"));
    CHECK(FolderExists(hostile) && !FileExists(hostile + L"\\SAM"));
    for (const std::wstring& folder : young) CHECK(FolderExists(folder));

    // Once today's backup stands, the old newest one goes.
    CHECK_EQ(2u, Run(root, L"/days:15").exitCode);
    CHECK(FileExists(today + L"\\sysdir.txt") && !FolderExists(newest));
    for (const std::wstring& folder : young) CHECK(FolderExists(folder));

    // With /days:0 a fresh backup replaces today's, then the rest goes; a
    // run that dies before its backup stands leaves today's as it was.
    REQUIRE(WriteFileBytes(today + L"\\marker", "from the first run"));
    REQUIRE(KillZelMidway(L"/days:0 \"" + root + L"\""));
    CHECK(FileExists(today + L"\\marker") && FileExists(today + L"\\sysdir.txt"));
    CHECK_EQ(2u, Run(root, L"/days:0").exitCode);
    CHECK(FileExists(today + L"\\sysdir.txt") && !FileExists(today + L"\\marker"));
    for (const std::wstring& folder : young) CHECK(!FolderExists(folder));
    CHECK_EQ(std::string("jpeg"), ReadFileBytes(photos + L"\\photo.jpg"));
    Names top;
    for (const std::wstring& entry : ListTree(root))
        if (entry.find(L'\\') >= entry.size() - 1) top.push_back(entry);
    CHECK_EQ((Names{L"2001-01-01\\", L"2001-01-03", DateName(30) + L"\\", DateName(25) + L"\\",
                    TodayFolderName() + L"\\"}),
             top);
    CHECK(FileExists(elsewhere + L"\\SAM") && FileExists(elsewhere + L"\\sysdir.txt"));
    CHECK_EQ(std::string("victim"), ReadFileBytes(scratch / L"victim.txt"));
}

}  // namespace
