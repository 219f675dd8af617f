#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "backup/redirection_guard.h"
#include "backup/retention.h"
#include "fs/directory_probe.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

constexpr ULONGLONG UnitsPerSecond = 10000000ULL;
constexpr ULONGLONG UnitsPerDay = 86400ULL * UnitsPerSecond;

FILETIME FakeNow;
void ReadFakeNow(FILETIME* now) { *now = FakeNow; }

ULONGLONG Units(FILETIME time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
FILETIME Time(ULONGLONG units) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(units);
    time.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return time;
}

void MakeFolder(const std::wstring& path, DWORD attributes = 0) {
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << Narrow(path) << " " << GetLastError();
    if (attributes) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
        ASSERT_EQ(attributes | FILE_ATTRIBUTE_DIRECTORY,
                  GetFileAttributesW(path.c_str()) & (attributes | FILE_ATTRIBUTE_DIRECTORY));
    }
}

void MakeFile(const std::wstring& path, const std::string& bytes, DWORD attributes = 0) {
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << Narrow(path);
    if (attributes) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
        ASSERT_EQ(attributes, GetFileAttributesW(path.c_str()) & attributes) << Narrow(path);
    }
}

// A backup as the program leaves it, with attributes that stand in the way
// of a plain deletion: read-only, hidden and system files, and read-only
// subfolders two levels deep.
void MakeOldBackup(const std::wstring& dated) {
    MakeFolder(dated);
    MakeFile(dated + L"\\SAM", "regf-sam", FILE_ATTRIBUTE_READONLY);
    MakeFile(dated + L"\\hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN);
    MakeFile(dated + L"\\system.txt", "s", FILE_ATTRIBUTE_SYSTEM);
    MakeFile(dated + L"\\sysdir.txt", "");
    const std::wstring profile = dated + L"\\S-1-5-21-1000";
    MakeFolder(profile);
    MakeFile(profile + L"\\ntuser.dat", "regf-user",
             FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    MakeFolder(profile + L"\\deeper");
    MakeFile(profile + L"\\deeper\\UsrClass.dat", "regf-class", FILE_ATTRIBUTE_READONLY);
    // Read-only from the bottom up, so the files could still be made.
    ASSERT_TRUE(SetFileAttributesW((profile + L"\\deeper").c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(profile.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

void MakeKeptFolder(const std::wstring& folder) {
    MakeFolder(folder);
    MakeFile(folder + L"\\keep.txt", "kept " + Narrow(folder), FILE_ATTRIBUTE_READONLY);
}

void ExpectKeptFolder(const std::wstring& folder) {
    bool read = false;
    EXPECT_EQ("kept " + Narrow(folder), ReadFileBytes(folder + L"\\keep.txt", &read)) << Narrow(folder);
    EXPECT_TRUE(read) << Narrow(folder);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY),
              GetFileAttributesW((folder + L"\\keep.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
}

FILETIME CreationTime(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), IsDirectory(folder.c_str(), &entry));
    return entry.ftCreationTime;
}

// Runs one purge and returns what it printed.
std::string PurgeQuietly() {
    StdoutCapture capture;
    PurgeOldBackups();
    return capture.Bytes();
}

class Purge : public ::testing::Test {
protected:
    void SetUp() override {
        savedRoot_ = BackupRoot;
        savedDays_ = RetentionDays;
        savedClock_ = UtcNowEntry;
        ASSERT_LT(root_.path().size(), LongPathCapacity);
        wcscpy_s(BackupRoot, root_.path().c_str());
    }
    void TearDown() override {
        wcscpy_s(BackupRoot, savedRoot_.c_str());
        RetentionDays = savedDays_;
        UtcNowEntry = savedClock_;
    }

    std::wstring Under(const std::wstring& name) const { return root_ / name; }

    ScratchFolder root_{L"zelpurge"};

private:
    std::wstring savedRoot_;
    int savedDays_ = 0;
    UtcNowFn savedClock_ = nullptr;
};

TEST_F(Purge, DatedFoldersGoWithEverythingInsideOtherNamesStay) {
    MakeOldBackup(Under(L"2024-05-02"));
    MakeOldBackup(Under(L"2023-12-31"));
    for (const wchar_t* name : {L"backup", L"2024-5-1", L"2024-05-01x", L"1st_projec", L"2024_05_01"}) {
        MakeKeptFolder(Under(name));
    }
    MakeFile(Under(L"2024-05-01"), "a file, not a backup");
    RetentionDays = -1;

    EXPECT_EQ("", PurgeQuietly());

    EXPECT_FALSE(FolderExists(Under(L"2024-05-02")));
    EXPECT_FALSE(FolderExists(Under(L"2023-12-31")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Under(L"2024-05-02").c_str()));
    for (const wchar_t* name : {L"backup", L"2024-5-1", L"2024-05-01x", L"1st_projec", L"2024_05_01"}) {
        ExpectKeptFolder(Under(name));
    }
    EXPECT_EQ("a file, not a backup", ReadFileBytes(Under(L"2024-05-01")));
    EXPECT_TRUE(FolderExists(root_.path()));
}

TEST_F(Purge, FolderMadeJustNowSurvivesFifteenDaysWhateverItsNameSpells) {
    MakeOldBackup(Under(L"2001-01-01"));
    RetentionDays = 15;

    EXPECT_EQ("", PurgeQuietly());

    EXPECT_EQ("regf-sam", ReadFileBytes(Under(L"2001-01-01\\SAM")));
    EXPECT_EQ("regf-class", ReadFileBytes(Under(L"2001-01-01\\S-1-5-21-1000\\deeper\\UsrClass.dat")));
}

TEST_F(Purge, AgeCountsFromTheCreationTimeAgainstTheClock) {
    MakeOldBackup(Under(L"2024-05-10"));
    const ULONGLONG created = Units(CreationTime(Under(L"2024-05-10")));
    UtcNowEntry = ReadFakeNow;
    RetentionDays = 15;

    FakeNow = Time(created + 15 * UnitsPerDay);
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_EQ("regf-sam", ReadFileBytes(Under(L"2024-05-10\\SAM")));

    FakeNow = Time(created + 15 * UnitsPerDay + UnitsPerSecond);
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_FALSE(FolderExists(Under(L"2024-05-10")));
}

TEST_F(Purge, ZeroDaysTakesWhatWasCreatedBeforeThePurgeOnly) {
    MakeOldBackup(Under(L"2024-05-11"));
    const ULONGLONG created = Units(CreationTime(Under(L"2024-05-11")));
    UtcNowEntry = ReadFakeNow;
    RetentionDays = 0;

    FakeNow = Time(created);
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_TRUE(FolderExists(Under(L"2024-05-11")));

    FakeNow = Time(created + 1);
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_FALSE(FolderExists(Under(L"2024-05-11")));
}

TEST_F(Purge, NegativeDaysReachIntoTheFuture) {
    MakeOldBackup(Under(L"2024-05-12"));
    const ULONGLONG created = Units(CreationTime(Under(L"2024-05-12")));
    UtcNowEntry = ReadFakeNow;
    FakeNow = Time(created - UnitsPerDay / 2);  // created twelve hours from "now"

    RetentionDays = 0;
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_TRUE(FolderExists(Under(L"2024-05-12")));

    RetentionDays = -1;
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_FALSE(FolderExists(Under(L"2024-05-12")));
}

TEST_F(Purge, TheClockAndTheDayCountAreReadOncePerPurge) {
    MakeOldBackup(Under(L"2024-05-13"));
    MakeOldBackup(Under(L"2024-05-14"));
    static int reads = 0;
    reads = 0;
    // A day count changed once the purge has begun is not seen by it.
    UtcNowEntry = [](FILETIME* now) {
        ++reads;
        RetentionDays = 100000;
        ReadUtcNow(now);
    };
    RetentionDays = -1;

    EXPECT_EQ("", PurgeQuietly());

    EXPECT_EQ(1, reads);
    EXPECT_FALSE(FolderExists(Under(L"2024-05-13")));
    EXPECT_FALSE(FolderExists(Under(L"2024-05-14")));
}

TEST_F(Purge, AFileHeldOpenKeepsItselfAndItsFoldersUntilTheNextPurge) {
    MakeOldBackup(Under(L"2024-05-05"));
    const std::wstring held = Under(L"2024-05-05\\S-1-5-21-1000\\deeper\\held.txt");
    MakeFile(held, "in use");
    const std::wstring profile = Under(L"2024-05-05\\S-1-5-21-1000");
    // This Wine keeps no read-only attribute on folders, but keeps hidden
    // and system.
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(profile.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_SYSTEM),
              GetFileAttributesW((profile + L"\\deeper").c_str()) & FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(SetFileAttributesW(Under(L"2024-05-05").c_str(), FILE_ATTRIBUTE_HIDDEN));
    RetentionDays = -1;
    {
        FileHandle open(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(open.valid()) << GetLastError();

        EXPECT_EQ("", PurgeQuietly());

        EXPECT_TRUE(FileExists(held));
        EXPECT_TRUE(FolderExists(Under(L"2024-05-05\\S-1-5-21-1000\\deeper")));
        EXPECT_TRUE(FolderExists(Under(L"2024-05-05\\S-1-5-21-1000")));
        EXPECT_TRUE(FolderExists(Under(L"2024-05-05")));
        // Subfolders were reset before their removal was tried; the dated
        // folder itself keeps its attributes.
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(profile.c_str()));
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW((profile + L"\\deeper").c_str()));
        EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN,
                  GetFileAttributesW(Under(L"2024-05-05").c_str()));
        // Everything else went.
        EXPECT_FALSE(FileExists(Under(L"2024-05-05\\SAM")));
        EXPECT_FALSE(FileExists(Under(L"2024-05-05\\hidden.txt")));
        EXPECT_FALSE(FileExists(Under(L"2024-05-05\\S-1-5-21-1000\\ntuser.dat")));
        EXPECT_FALSE(FileExists(Under(L"2024-05-05\\S-1-5-21-1000\\deeper\\UsrClass.dat")));
    }
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_FALSE(FolderExists(Under(L"2024-05-05")));
}

TEST_F(Purge, AMissingRootDoesNothing) {
    MakeOldBackup(Under(L"2024-05-04"));
    wcscpy_s(BackupRoot, Under(L"missing").c_str());
    RetentionDays = -1;

    EXPECT_EQ("", PurgeQuietly());

    EXPECT_FALSE(FolderExists(Under(L"missing")));
    EXPECT_EQ("regf-sam", ReadFileBytes(Under(L"2024-05-04\\SAM")));
}

TEST_F(Purge, AnEmptyRootDoesNotListTheDriveRoot) {
    // "\*.*" alone would name the root of the current drive.
    wchar_t savedDirectory[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, savedDirectory));
    ASSERT_TRUE(SetCurrentDirectoryW(root_.path().c_str()));
    const std::wstring driveRoot = root_.path().substr(0, 3);
    const std::wstring atDriveRoot = driveRoot + L"2000-01-01";
    ASSERT_FALSE(FolderExists(atDriveRoot)) << "left over from an earlier run";
    MakeKeptFolder(atDriveRoot);
    BackupRoot[0] = L'\0';
    RetentionDays = -1;

    EXPECT_EQ("", PurgeQuietly());

    ExpectKeptFolder(atDriveRoot);
    RemoveTree(atDriveRoot);
    EXPECT_TRUE(SetCurrentDirectoryW(savedDirectory));
}

TEST_F(Purge, AnEmptyRootLeavesNothingToDo) {
    BackupRoot[0] = L'\0';
    RetentionDays = -1;
    wcscpy_s(ScratchPath, L"untouched");

    EXPECT_EQ("", PurgeQuietly());

    EXPECT_STREQ(L"untouched", ScratchPath);
}

TEST_F(Purge, AnEmptyRootFolderIsLeftAsItIs) {
    RetentionDays = -1;
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_TRUE(FolderExists(root_.path()));
}

// A root whose search pattern would not fit the 4096-character scratch path
// is refused; one that fits exactly is used.
TEST_F(Purge, APatternThatWouldNotFitIsRefused) {
    std::wstring root = L"C:\\";
    root.append(LongPathCapacity - 5 - root.size(), L'a');  // 4091 characters
    ASSERT_EQ(4091u, root.size());
    wcscpy_s(BackupRoot, root.c_str());
    RetentionDays = -1;

    wcscpy_s(ScratchPath, L"sentinel");
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_EQ(root + L"\\*.*", std::wstring(ScratchPath));

    root.push_back(L'a');
    wcscpy_s(BackupRoot, root.c_str());
    wcscpy_s(ScratchPath, L"sentinel");
    EXPECT_EQ("", PurgeQuietly());
    EXPECT_STREQ(L"", ScratchPath);
    EXPECT_EQ(0, BackupRoot[4092]);
}

TEST(DeleteTree, EmptiesTheFolderButKeepsIt) {
    ScratchFolder scratch(L"zeltree");
    MakeOldBackup(scratch / L"2024-05-03");
    MakeKeptFolder(scratch / L"beside");
    {
        StdoutCapture capture;
        DeleteTree((scratch / L"2024-05-03").c_str());
        EXPECT_EQ("", capture.Bytes());
    }
    EXPECT_TRUE(FolderExists(scratch / L"2024-05-03"));
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW((scratch / L"2024-05-03\\*").c_str(), &entry));
    ASSERT_TRUE(listing.valid());
    std::vector<std::wstring> names;
    do {
        names.push_back(entry.cFileName);
    } while (FindNextFileW(listing.get(), &entry));
    EXPECT_EQ((std::vector<std::wstring>{L".", L".."}), names);
    ExpectKeptFolder(scratch / L"beside");
}

TEST(DeleteTree, AnEmptyFolderNameDoesNothing) {
    wcscpy_s(ScratchPath, L"untouched");
    DeleteTree(L"");
    EXPECT_STREQ(L"untouched", ScratchPath);
}

TEST(DeleteTree, AFolderTooLongForThePatternIsRefused) {
    std::wstring folder = L"C:\\";
    folder.append(4092 - folder.size(), L'b');
    wcscpy_s(ScratchPath, L"sentinel");
    DeleteTree(folder.c_str());
    EXPECT_STREQ(L"", ScratchPath);

    folder.pop_back();
    DeleteTree(folder.c_str());
    EXPECT_EQ(folder + L"\\*.*", std::wstring(ScratchPath));
}

TEST(DeleteScratchFile, ClearsTheAttributesAndDeletes) {
    ScratchFolder scratch(L"zelscratch");
    const std::wstring file = scratch / L"SECURITY";
    MakeFile(file, "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    wcscpy_s(ScratchPath, file.c_str());

    EXPECT_TRUE(DeleteScratchFile());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteScratchFile());
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}

// Redirection entries that record where the scratch path stood each time the
// guard switched redirection off.
std::vector<std::wstring> GuardedPaths;
int Reverts = 0;
int Mark = 0;
BOOL WINAPI RecordDisable(PVOID* old) {
    *old = &Mark;
    GuardedPaths.push_back(ScratchPath);
    return TRUE;
}
BOOL WINAPI RecordRevert(PVOID old) {
    EXPECT_EQ(&Mark, old);
    ++Reverts;
    return TRUE;
}

class GuardedPurge : public Purge {
protected:
    void SetUp() override {
        Purge::SetUp();
        savedDisable_ = Wow64DisableRedirectionEntry;
        savedRevert_ = Wow64RevertRedirectionEntry;
        GuardedPaths.clear();
        Reverts = 0;
        Wow64DisableRedirectionEntry = RecordDisable;
        Wow64RevertRedirectionEntry = RecordRevert;
    }
    void TearDown() override {
        Wow64DisableRedirectionEntry = savedDisable_;
        Wow64RevertRedirectionEntry = savedRevert_;
        Purge::TearDown();
    }

private:
    Wow64DisableRedirectionFn savedDisable_ = nullptr;
    Wow64RevertRedirectionFn savedRevert_ = nullptr;
};

TEST_F(GuardedPurge, RedirectionIsOffAroundEachFileDeletionOnly) {
    const std::wstring dated = Under(L"2024-05-06");
    MakeFolder(dated);
    MakeFile(dated + L"\\sam", "1", FILE_ATTRIBUTE_READONLY);
    MakeFolder(dated + L"\\sub");
    MakeFile(dated + L"\\sub\\ntuser.dat", "2");
    RetentionDays = -1;

    EXPECT_EQ("", PurgeQuietly());

    EXPECT_FALSE(FolderExists(dated));
    // File names go upper-cased into the scratch path; the order is the
    // listing's.
    std::vector<std::wstring> expected = {dated + L"\\SAM", dated + L"\\sub\\NTUSER.DAT"};
    std::sort(GuardedPaths.begin(), GuardedPaths.end());
    EXPECT_EQ(expected, GuardedPaths);
    EXPECT_EQ(2, Reverts);
    EXPECT_EQ(1, RedirectionNesting);
}

TEST_F(GuardedPurge, AnOuterGuardMakesTheDeletionsNested) {
    const std::wstring dated = Under(L"2024-05-07");
    MakeFolder(dated);
    MakeFile(dated + L"\\SYSTEM", "1");
    RetentionDays = -1;
    {
        RedirectionGuard outer;
        ASSERT_EQ(1u, GuardedPaths.size());
        EXPECT_EQ("", PurgeQuietly());
        EXPECT_EQ(1u, GuardedPaths.size());
        EXPECT_EQ(0, RedirectionNesting);
    }
    EXPECT_EQ(1, Reverts);
    EXPECT_EQ(1, RedirectionNesting);
    EXPECT_FALSE(FolderExists(dated));
}

}  // namespace
