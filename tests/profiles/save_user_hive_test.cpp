#include <gtest/gtest.h>

#include "app/owned_handle.h"
#include "backup/key_save.h"
#include "backup/raw_copy.h"
#include "backup/user_hives.h"
#include "profiles_util.h"
#include "support/registry_fixture.h"

namespace {

// Not loaded in this prefix, so its hive is copied from the live file.
const std::wstring Unloaded = L"S-1-5-21-9-8-7-1001";

TEST(SaveUserHive, CopiesAnUnloadedHiveAndReportsOnlyUnexpectedFailures) {
    ASSERT_FALSE(KeyExists(HKEY_USERS, Unloaded));
    ScratchFolder scratch(L"zelsavehive");
    const std::string bytes = HiveBytes("ntuser");
    ASSERT_TRUE(WriteFileBytes(scratch / L"live.dat", bytes));
    ASSERT_TRUE(WriteFileBytes(scratch / L"locked.dat", bytes));
    // Held open without sharing, as a loaded hive file would be.
    FileHandle holder(CreateFileW((scratch / L"locked.dat").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());
    const DWORD untouched = 0xDEADBEEF;
    const struct {
        std::wstring live, folder;
        bool saved;
        std::string output;
        DWORD copyError;
    } cases[] = {
        {scratch / L"live.dat", scratch.path(), true, SavedLine(Unloaded), 0},
        {scratch / L"NTUSER.DAT", scratch.path(), false, "", ERROR_FILE_NOT_FOUND},
        {scratch / L"Gone\\UsrClass.dat", scratch.path(), false, "", ERROR_PATH_NOT_FOUND},
        {scratch / L"locked.dat", scratch.path(), false,
         FailedLine(Unloaded, ERROR_SHARING_VIOLATION), ERROR_SHARING_VIOLATION},
        // Within 2048 characters, but past what a path join accepts.
        {scratch / L"live.dat", scratch / std::wstring(300, L'f'), false,
         FailedLine(Unloaded, ERROR_FILENAME_EXCED_RANGE), untouched},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        const auto& c = cases[i];
        const std::wstring name = L"H" + std::to_wstring(i);
        LastSaveError = untouched;
        LastCopyError = untouched;
        bool saved = false;
        EXPECT_EQ(c.output, Printed([&] {
                      saved = SaveUserHive(Unloaded.c_str(), c.live.c_str(), name.c_str(),
                                           c.folder.c_str(), L".DAT");
                  })) << i;
        EXPECT_EQ(c.saved, saved) << i;
        EXPECT_EQ(c.copyError, LastCopyError) << i;
        EXPECT_EQ(c.copyError == untouched ? untouched : ERROR_FILE_NOT_FOUND, LastSaveError) << i;
        bool read = false;
        EXPECT_EQ(c.saved ? bytes : "", ReadFileBytes(c.folder + L"\\" + name + L".DAT", &read));
        EXPECT_EQ(c.saved, read) << i;
    }
}

TEST(SaveUserHive, SaveFailureOfALoadedHiveIsReportedWithoutCopying) {
    ASSERT_TRUE(KeyExists(HKEY_USERS, L".DEFAULT"));
    ScratchFolder scratch(L"zelsavehive");
    ASSERT_TRUE(WriteFileBytes(scratch / L"live.dat", HiveBytes("unused")));
    LastSaveError = LastCopyError = 0xDEADBEEF;
    bool saved = true;
    // The target's folder does not exist, so the save itself fails.
    const std::string output = Printed([&] {
        saved = SaveUserHive(L".DEFAULT", (scratch / L"live.dat").c_str(), L"NTUSER",
                             (scratch / L"NoFolder").c_str(), L".DAT");
    });
    EXPECT_FALSE(saved);
    EXPECT_TRUE(LastSaveError != 0 && LastSaveError != 0xDEADBEEF && LastSaveError != 2);
    EXPECT_EQ(0xDEADBEEFu, LastCopyError);
    EXPECT_EQ(FailedLine(L".DEFAULT", LastSaveError), output);
}

}  // namespace
