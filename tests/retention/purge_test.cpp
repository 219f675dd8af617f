#include <gtest/gtest.h>

#include <string>

#include "app/owned_handle.h"
#include "backup/retention.h"
#include "fs/directory_probe.h"
#include "support/saved_process_values.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

const wchar_t* const KeptNames[] = {L"backup", L"2024-5-1", L"2024-05-01x", L"1st_projec"};

void MakeFile(const std::wstring& path, const std::string& bytes, DWORD attributes = 0) {
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << Narrow(path);
    if (attributes) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << Narrow(path);
    }
}

// A backup with what stands in the way of a plain deletion: read-only,
// hidden and system files, and read-only subfolders two levels deep.
void MakeOldBackup(const std::wstring& dated) {
    const std::wstring profile = dated + L"\\S-1-5-21-1000";
    ASSERT_TRUE(CreateDirectoryW(dated.c_str(), nullptr));
    MakeFile(dated + L"\\SAM", "regf-sam", FILE_ATTRIBUTE_READONLY);
    MakeFile(dated + L"\\hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN);
    MakeFile(dated + L"\\system.txt", "s", FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(CreateDirectoryW(profile.c_str(), nullptr));
    MakeFile(profile + L"\\ntuser.dat", "regf-user",
             FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(CreateDirectoryW((profile + L"\\deeper").c_str(), nullptr));
    MakeFile(profile + L"\\deeper\\UsrClass.dat", "regf-class", FILE_ATTRIBUTE_READONLY);
    // Bottom up, so the files could still be made.
    ASSERT_TRUE(SetFileAttributesW((profile + L"\\deeper").c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(profile.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

void MakeKeptFolder(const std::wstring& folder) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << Narrow(folder);
    MakeFile(folder + L"\\keep.txt", "kept " + Narrow(folder), FILE_ATTRIBUTE_READONLY);
}

void ExpectKeptFolder(const std::wstring& folder) {
    EXPECT_EQ("kept " + Narrow(folder), ReadFileBytes(folder + L"\\keep.txt")) << Narrow(folder);
}

// Runs one purge and returns what it printed.
std::string Purged() {
    StdoutCapture capture;
    PurgeOldBackups();
    return capture.Bytes();
}

FILETIME FakeNow;
void ReadFakeNow(FILETIME* now) { *now = FakeNow; }

class Purge : public ::testing::Test {
protected:
    void SetUp() override {
        wcscpy_s(BackupRoot, root_.path().c_str());
        RetentionDays = -1;
    }

    std::wstring Under(const std::wstring& name) const { return root_ / name; }

    SavedProcessValues saved_;
    ScratchFolder root_{L"zelpurge"};
};

TEST_F(Purge, DatedFoldersGoWithEverythingInsideOtherNamesStay) {
    for (int days : {-1, 0}) {
        MakeOldBackup(Under(L"2024-05-02"));
        MakeOldBackup(Under(L"2023-12-31"));
        for (const wchar_t* name : KeptNames) MakeKeptFolder(Under(name));
        MakeFile(Under(L"2024-05-01"), "a file, not a backup");
        RetentionDays = days;

        EXPECT_EQ("", Purged()) << days;

        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Under(L"2024-05-02").c_str())) << days;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Under(L"2023-12-31").c_str())) << days;
        for (const wchar_t* name : KeptNames) ExpectKeptFolder(Under(name));
        EXPECT_EQ("a file, not a backup", ReadFileBytes(Under(L"2024-05-01"))) << days;
        for (const wchar_t* name : KeptNames) RemoveTree(Under(name));
        RemoveTree(Under(L"2024-05-01"));
    }
}

TEST_F(Purge, AgeCountsFromTheCreationTime) {
    MakeOldBackup(Under(L"2001-01-01"));
    RetentionDays = 15;
    EXPECT_EQ("", Purged());
    EXPECT_EQ("regf-class", ReadFileBytes(Under(L"2001-01-01\\S-1-5-21-1000\\deeper\\UsrClass.dat")));

    // Creation times cannot be set here, so the clock moves instead.
    WIN32_FIND_DATAW entry;
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), IsDirectory(Under(L"2001-01-01").c_str(), &entry));
    ULARGE_INTEGER now;
    now.LowPart = entry.ftCreationTime.dwLowDateTime;
    now.HighPart = entry.ftCreationTime.dwHighDateTime;
    now.QuadPart += 15ULL * 86400 * 10000000;
    FakeNow = {now.LowPart, now.HighPart};
    UtcNowEntry = ReadFakeNow;
    EXPECT_EQ("", Purged());
    EXPECT_EQ("regf-sam", ReadFileBytes(Under(L"2001-01-01\\SAM")));

    now.QuadPart += 10000000;
    FakeNow = {now.LowPart, now.HighPart};
    EXPECT_EQ("", Purged());
    EXPECT_FALSE(FolderExists(Under(L"2001-01-01")));
}

TEST_F(Purge, AFileHeldOpenKeepsItsFoldersUntilTheNextPurge) {
    MakeOldBackup(Under(L"2024-05-05"));
    const std::wstring profile = Under(L"2024-05-05\\S-1-5-21-1000");
    const std::wstring held = profile + L"\\deeper\\held.txt";
    MakeFile(held, "in use");
    // This Wine drops read-only on folders but keeps hidden, which the reset must clear.
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(profile.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    {
        FileHandle open(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(open.valid()) << GetLastError();

        EXPECT_EQ("", Purged());

        EXPECT_TRUE(FileExists(held));
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(profile.c_str()));
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW((profile + L"\\deeper").c_str()));
        EXPECT_TRUE(FolderExists(Under(L"2024-05-05")));
        EXPECT_FALSE(FileExists(Under(L"2024-05-05\\SAM")));
        EXPECT_FALSE(FileExists(profile + L"\\ntuser.dat"));
        EXPECT_FALSE(FileExists(profile + L"\\deeper\\UsrClass.dat"));
    }
    EXPECT_EQ("", Purged());
    EXPECT_FALSE(FolderExists(Under(L"2024-05-05")));
}

TEST_F(Purge, AnEmptyOrMissingRootDoesNothing) {
    MakeOldBackup(Under(L"2024-05-04"));
    wcscpy_s(BackupRoot, Under(L"missing").c_str());
    EXPECT_EQ("", Purged());
    EXPECT_FALSE(FolderExists(Under(L"missing")));
    EXPECT_EQ("regf-sam", ReadFileBytes(Under(L"2024-05-04\\SAM")));

    // "\*.*" alone would name the root of the current drive.
    wchar_t savedDirectory[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, savedDirectory));
    ASSERT_TRUE(SetCurrentDirectoryW(root_.path().c_str()));
    const std::wstring atDriveRoot = root_.path().substr(0, 3) + L"2000-01-01";
    ASSERT_FALSE(FolderExists(atDriveRoot)) << "left over from an earlier run";
    MakeKeptFolder(atDriveRoot);
    BackupRoot[0] = L'\0';
    EXPECT_EQ("", Purged());
    ExpectKeptFolder(atDriveRoot);
    RemoveTree(atDriveRoot);
    EXPECT_TRUE(SetCurrentDirectoryW(savedDirectory));
}

TEST_F(Purge, ARootTooLongForTheScratchPathIsRefused) {
    std::wstring root = L"C:\\";
    root.append(4091 - root.size(), L'a');  // root + "\*.*" + terminator: exactly 4096
    for (int extra : {0, 1}) {
        root.append(extra, L'a');
        wcscpy_s(BackupRoot, root.c_str());
        wcscpy_s(ScratchPath, L"sentinel");
        EXPECT_EQ("", Purged());
        EXPECT_EQ(extra ? std::wstring() : root + L"\\*.*", std::wstring(ScratchPath));
    }
}

}  // namespace
