// Retention as zel.exe runs it: only old backups and empty dated folders go,
// the newest backup and the newest complete one (by creation time) stay
// until newer ones stand, a failed run costs no backup, and nothing outside
// a backup, or under today's name that is not a backup, is ever reached.
#include <stdlib.h>

#include "support/support.h"

namespace {

// A finished backup: its files carry the attributes that stop a plain delete;
// `record` (complete.txt, incomplete.txt or backup.log) holds `bytes`.
void MakeBackup(const std::wstring& folder, double age, const std::wstring& record = L"",
                const std::string& bytes = "") {
    if (!record.empty()) WriteFileBytes(folder + L"\\" + record, bytes);
    WriteFileBytes(folder + L"\\SAM", "regf");
    SetFileAttributesW((folder + L"\\SAM").c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    WriteFileBytes(folder + L"\\S-1-5-21-1\\deeper\\NTUSER.DAT", "regf");
    SetFileAttributesW((folder + L"\\S-1-5-21-1").c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    WriteFileBytes(folder + L"\\sysdir.txt", Utf16Bytes(L"\\windows\\system32"));
    AgeFolder(folder, age);
}

// The log of a backup made before the completeness records, ending with `last`.
std::string OldLog(const std::wstring& last) {
    return "\xFF\xFE" + Utf16Bytes(
                            L"Backup started 2026-01-01 10:00:00\r\n"
                            L"Backup ended 2026-01-01 10:00:09\r\n" +
                            last + L"\r\n");
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
                       empty = root + L"\\2001-01-02", complete = root + L"\\" + DateName(35);
    // Failing days after the last complete one, recorded both ways; and a
    // complete backup named and created in the future by a clock gone wrong.
    MakeBackup(newest, 16, L"incomplete.txt");
    MakeBackup(older, 20, L"backup.log", OldLog(L"3 of 8 hives saved"));
    MakeBackup(complete, 35, L"backup.log", OldLog(L"8 of 8 hives saved"));
    MakeBackup(root + L"\\2099-01-01", -1000, L"complete.txt");
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
    const auto outsideBytes = TreeBytes(outside);

    // A run that dies after the purge: the newest backup and the newest
    // complete one, though old, stand.
    REQUIRE(KillZelMidway(L"/days:15 \"" + root + L"\""));
    CHECK(FileExists(newest + L"\\sysdir.txt") && FileExists(complete + L"\\sysdir.txt"));
    CHECK(!FolderExists(older) && !FolderExists(empty));
    CHECK_EQ(std::string("a file, not a backup"), ReadFileBytes(root + L"\\2001-01-03"));
    CHECK(FolderExists(hostile) && !FileExists(hostile + L"\\SAM"));

    // A run that fails purges nothing after it; once its backup stands, the
    // old newest one goes, but the last complete one stays.
    CHECK_EQ(2u, Run(root, L"/days:15").exitCode);
    CHECK(FileExists(today + L"\\sysdir.txt") && FileExists(newest + L"\\sysdir.txt"));
    CHECK_EQ(0u, Run(root, L"/days:15").exitCode);
    CHECK(!FolderExists(newest) && FileExists(complete + L"\\sysdir.txt"));
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
    CHECK_EQ(std::string("victim"), ReadFileBytes(scratch / L"victim.txt"));

    // With /days:0, today's name that holds something else keeps it, and
    // the run says so: a folder of photos, a link to a folder, a link to a
    // backup elsewhere.
    const std::wstring mine = scratch / L"mine";
    REQUIRE(MoveFileW(today.c_str(), mine.c_str()));
    const auto mineBytes = TreeBytes(mine);
    const Strings refused = {
        Narrow(L"ZEL - " VERSION_BANNER), Narrow(root),
        ReportLine("(!) Not a backup, left as it is: " + Narrow(today), ERROR_ALREADY_EXISTS)};
    for (const std::wstring& target : {std::wstring(), outside, mine}) {
        Context row(target.empty() ? L"photos" : target);
        if (target.empty()) {
            REQUIRE(WriteFileBytes(today + L"\\photo.jpg", "jpeg"));
        } else {
            RunHostTool(L"Z:\\bin\\ln -s " + HostPath(target) + L" " + HostPath(today));
        }
        ProcessResult run = Run(root, L"/days:0");
        CHECK_EQ(2u, run.exitCode);
        CHECK_EQ(refused, Lines(run.output));
        CHECK(FolderExists(today));
        if (target.empty()) CHECK_EQ(std::string("jpeg"), ReadFileBytes(today + L"\\photo.jpg"));
        RunHostTool(L"Z:\\bin\\rm -r " + HostPath(today));
    }
    CHECK(outsideBytes == TreeBytes(outside) && mineBytes == TreeBytes(mine));
    CHECK_EQ((Names{L"2001-01-01\\", L"2001-01-03", DateName(35) + L"\\", DateName(30) + L"\\",
                    DateName(25) + L"\\", L"2099-01-01\\"}),
             TopEntries(root));
    CHECK(FileExists(elsewhere + L"\\SAM") && FileExists(elsewhere + L"\\sysdir.txt"));
}

// A disk that fills during the run (a small tmpfs as drive Q:): the hives
// that do not fit fail, and no complete backup is lost, neither to the
// purge after the run nor to /days:0.
TEST(FullDiskCostsNoCompleteBackup) {
    const char* prefix = getenv("WINEPREFIX");
    if (!prefix) return Skip("no WINEPREFIX to link a drive in");
    ScratchFolder scratch(L"zelfull");
    const std::wstring disk = scratch / L"disk", link = Widen(prefix) + L"/dosdevices/q:";
    REQUIRE(CreateDirectoryW(disk.c_str(), nullptr));
    RunHostTool(L"Z:\\bin\\mount -t tmpfs -o size=96k zeltest " + HostPath(disk));
    RunHostTool(L"Z:\\bin\\ln -s " + HostPath(disk) + L" " + link);
    AtEnd unmount{[&] {
        RunHostTool(L"Z:\\bin\\rm " + link);
        RunHostTool(L"Z:\\bin\\umount -l " + HostPath(disk));
    }};
    ULARGE_INTEGER size{};
    if (!GetDiskFreeSpaceExW(L"Q:\\", nullptr, &size, nullptr) || size.QuadPart > 1 << 20)
        return Skip("no small disk as Q: (mounting a tmpfs needs root)");
    const std::wstring root = L"Q:\\root", complete = root + L"\\" + DateName(20),
                       today = root + L"\\" + TodayFolderName();
    MakeBackup(complete, 20, L"complete.txt");
    const auto completeBytes = TreeBytes(complete);
    ProcessResult run = Run(root, L"/days:15");
    CHECK_EQ(2u, run.exitCode);
    CHECK(run.output.find(ReportLine("", ERROR_DISK_FULL)) != std::string::npos);
    CHECK_EQ(completeBytes, TreeBytes(complete));

    // Today's backup is incomplete too, but it holds SOFTWARE, which the
    // full disk keeps the new one from saving.
    RemoveTree(today);
    RemoveTree(today + L".partial");
    const std::wstring log =
        L"Saving error SAM  [Access is denied. ]\r\n"
        L"Backup of SOFTWARE successfully completed\r\n"
        L"1 of 2 hives saved\r\n";
    MakeBackup(today, 0, L"backup.log", "\xFF\xFE" + Utf16Bytes(log));
    WriteFileBytes(today + L"\\incomplete.txt", "");
    auto todayBytes = TreeBytes(today);
    run = Run(root, L"/days:0");
    CHECK_EQ(2u, run.exitCode);
    const std::wstring notKept =
        L"(!) The new backup lacks SOFTWARE, which today's backup holds, and was not "
        L"kept; today's backup stands: " +
        today;
    CHECK_EQ(Narrow(notKept), Lines(run.output).back());
    todayBytes[L"backup.log"] += Utf16Bytes(notKept + L"\r\n");
    CHECK_EQ(todayBytes, TreeBytes(today));
    // The complete backup stays too: today's is not complete.
    CHECK_EQ((Names{DateName(20) + L"\\", TodayFolderName() + L"\\"}), TopEntries(root));
}

}  // namespace
