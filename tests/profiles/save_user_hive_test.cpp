#include <gtest/gtest.h>

#include <string>

#include "app/owned_handle.h"
#include "backup/key_save.h"
#include "backup/raw_copy.h"
#include "backup/user_hives.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

// A user key that is not loaded in this prefix, so its hive is copied.
const wchar_t UnloadedKey[] = L"S-1-5-21-9-8-7-1001";

std::string HiveBytes(const std::string& tag) {
    std::string bytes = "regf" + tag;
    for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<char>((i * 7 + 3) & 0xFF));
    return bytes;
}

std::string SavedLine(const std::string& key) {
    return "Backup of " + key + " successfully completed\r\n";
}

std::string FailedLine(const std::string& key, DWORD code) {
    return "Saving error " + key + "  [" + SystemText(code) + "]\r\n";
}

TEST(SaveUserHive, UnloadedHiveIsCopiedFromItsLiveFile) {
    ASSERT_FALSE(KeyExists(HKEY_USERS, UnloadedKey));
    ScratchFolder scratch(L"zelsavehive");
    const std::string bytes = HiveBytes("-ntuser");
    ASSERT_TRUE(WriteFileBytes(scratch / L"live.dat", bytes));
    ASSERT_TRUE(CreateDirectoryW((scratch / L"SID").c_str(), nullptr));

    std::string output;
    LastSaveError = 0xDEADBEEF;
    LastCopyError = 0xDEADBEEF;
    bool saved;
    {
        StdoutCapture capture;
        saved = SaveUserHive(UnloadedKey, (scratch / L"live.dat").c_str(), L"NTUSER",
                             (scratch / L"SID").c_str(), L".DAT");
        output = capture.Bytes();
    }
    EXPECT_TRUE(saved);
    EXPECT_EQ(SavedLine(Narrow(UnloadedKey)), output);
    EXPECT_EQ(2u, LastSaveError);
    EXPECT_EQ(0u, LastCopyError);
    bool read = false;
    EXPECT_EQ(bytes, ReadFileBytes(scratch / L"SID\\NTUSER.DAT", &read));
    EXPECT_TRUE(read);
}

TEST(SaveUserHive, MissingLiveFileOrFolderIsSkippedSilently) {
    ScratchFolder scratch(L"zelsavehive");
    ASSERT_TRUE(CreateDirectoryW((scratch / L"SID").c_str(), nullptr));
    const struct {
        std::wstring live;
        DWORD error;
    } cases[] = {{scratch / L"NTUSER.DAT", ERROR_FILE_NOT_FOUND},
                 {scratch / L"Gone\\Deeper\\UsrClass.dat", ERROR_PATH_NOT_FOUND}};
    for (const auto& c : cases) {
        std::string output;
        LastCopyError = 0xDEADBEEF;
        bool saved;
        {
            StdoutCapture capture;
            saved = SaveUserHive(UnloadedKey, c.live.c_str(), L"UsrClass",
                                 (scratch / L"SID").c_str(), L".dat");
            output = capture.Bytes();
        }
        EXPECT_FALSE(saved) << Narrow(c.live);
        EXPECT_EQ("", output) << Narrow(c.live);
        EXPECT_EQ(c.error, LastCopyError) << Narrow(c.live);
        EXPECT_FALSE(FileExists(scratch / L"SID\\UsrClass.dat")) << Narrow(c.live);
    }
}

TEST(SaveUserHive, CopyFailureOtherThanMissingIsReported) {
    ScratchFolder scratch(L"zelsavehive");
    ASSERT_TRUE(WriteFileBytes(scratch / L"live.dat", HiveBytes("-locked")));
    ASSERT_TRUE(CreateDirectoryW((scratch / L"SID").c_str(), nullptr));
    // Held open without any sharing, as a loaded hive file would be.
    FileHandle holder(CreateFileW((scratch / L"live.dat").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());

    std::string output;
    LastCopyError = 0xDEADBEEF;
    bool saved;
    {
        StdoutCapture capture;
        saved = SaveUserHive(UnloadedKey, (scratch / L"live.dat").c_str(), L"NTUSER",
                             (scratch / L"SID").c_str(), L".DAT");
        output = capture.Bytes();
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), LastCopyError);
    EXPECT_EQ(FailedLine(Narrow(UnloadedKey), ERROR_SHARING_VIOLATION), output);
}

TEST(SaveUserHive, LoadedHiveIsSavedFromUsersAndNotCopied) {
    ASSERT_TRUE(KeyExists(HKEY_USERS, L".DEFAULT"));
    ScratchFolder scratch(L"zelsavehive");
    ASSERT_TRUE(WriteFileBytes(scratch / L"live.dat", HiveBytes("-not-this")));

    std::string output;
    LastSaveError = 0xDEADBEEF;
    LastCopyError = 0xDEADBEEF;
    bool saved;
    {
        StdoutCapture capture;
        saved = SaveUserHive(L".DEFAULT", (scratch / L"live.dat").c_str(), L"NTUSER",
                             scratch.path().c_str(), L".DAT");
        output = capture.Bytes();
    }
    EXPECT_TRUE(saved);
    EXPECT_EQ(SavedLine(".DEFAULT"), output);
    EXPECT_EQ(0u, LastSaveError);
    EXPECT_EQ(0xDEADBEEFu, LastCopyError);
    bool read = false;
    std::string hive = ReadFileBytes(scratch / L"NTUSER.DAT", &read);
    EXPECT_TRUE(read);
    EXPECT_FALSE(hive.empty());
    EXPECT_NE(HiveBytes("-not-this"), hive);
}

TEST(SaveUserHive, SaveFailureOtherThanMissingKeyIsReportedWithoutCopying) {
    ASSERT_TRUE(KeyExists(HKEY_USERS, L".DEFAULT"));
    ScratchFolder scratch(L"zelsavehive");
    ASSERT_TRUE(WriteFileBytes(scratch / L"live.dat", HiveBytes("-unused")));

    std::string output;
    LastSaveError = 0xDEADBEEF;
    LastCopyError = 0xDEADBEEF;
    bool saved;
    {
        StdoutCapture capture;
        // The target's folder does not exist, so the save itself fails.
        saved = SaveUserHive(L".DEFAULT", (scratch / L"live.dat").c_str(), L"NTUSER",
                             (scratch / L"NoFolder").c_str(), L".DAT");
        output = capture.Bytes();
    }
    EXPECT_FALSE(saved);
    EXPECT_NE(0u, LastSaveError);
    EXPECT_NE(2u, LastSaveError);
    EXPECT_NE(0xDEADBEEFu, LastSaveError);
    EXPECT_EQ(0xDEADBEEFu, LastCopyError);
    EXPECT_EQ(FailedLine(".DEFAULT", LastSaveError), output);
    EXPECT_FALSE(FolderExists(scratch / L"NoFolder"));
}

TEST(SaveUserHive, TargetThatDoesNotFitIsRefusedWithItsLine) {
    ScratchFolder scratch(L"zelsavehive");
    ASSERT_TRUE(WriteFileBytes(scratch / L"live.dat", HiveBytes("-long")));
    // Within 2048 characters, but past what a path join accepts.
    std::wstring folder = scratch / std::wstring(300, L'f');

    std::string output;
    LastSaveError = 0xDEADBEEF;
    LastCopyError = 0xDEADBEEF;
    bool saved;
    {
        StdoutCapture capture;
        saved = SaveUserHive(UnloadedKey, (scratch / L"live.dat").c_str(), L"NTUSER",
                             folder.c_str(), L".DAT");
        output = capture.Bytes();
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(FailedLine(Narrow(UnloadedKey), ERROR_FILENAME_EXCED_RANGE), output);
    EXPECT_EQ(0xDEADBEEFu, LastSaveError);
    EXPECT_EQ(0xDEADBEEFu, LastCopyError);
}

}  // namespace
