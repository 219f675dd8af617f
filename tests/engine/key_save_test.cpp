#include <gtest/gtest.h>

#include "app/process_state.h"
#include "backup/key_save.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"

namespace {

const wchar_t TestKey[] = L"Software\\ZelKeySaveTest";
const char Marker[] = "ZelMarker4711";

class KeySave : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS, SetStringValue(HKEY_LOCAL_MACHINE, TestKey, L"Marker",
                                                Widen(Marker)));
        savedEntry_ = RegSaveKeyExEntry;
    }
    void TearDown() override {
        RegSaveKeyExEntry = savedEntry_;
        DeleteKeyTree(HKEY_LOCAL_MACHINE, TestKey);
    }

    ScratchFolder folder_;
    RegSaveKeyExFn savedEntry_ = nullptr;
};

TEST_F(KeySave, SavedHiveHoldsTheMarkerValue) {
    std::wstring target = folder_ / L"SAVED";
    ASSERT_NE(nullptr, RegSaveKeyExEntry) << "RegSaveKeyExW should be found at start-up";
    LastSaveError = 0xdeadbeef;

    EXPECT_TRUE(SaveKeyToFile(target.c_str(), TestKey, HKEY_LOCAL_MACHINE));
    EXPECT_EQ(0u, LastSaveError);
    EXPECT_NE(std::string::npos, ReadFileBytes(target).find(Marker));
}


TEST_F(KeySave, MissingKeyLeavesTheTargetInPlace) {
    std::wstring target = folder_ / L"KEEP";
    ASSERT_TRUE(WriteFileBytes(target, "keep me"));
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    DWORD attributes = GetFileAttributesW(target.c_str());
    LastSaveError = 0xdeadbeef;

    EXPECT_FALSE(SaveKeyToFile(target.c_str(), L"Software\\ZelNoSuchKey", HKEY_LOCAL_MACHINE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), LastSaveError);
    EXPECT_EQ("keep me", ReadFileBytes(target));
    EXPECT_EQ(attributes, GetFileAttributesW(target.c_str()));
    EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(KeySave, WithoutTheExtendedSaveOnlyThePlainSaveIsUsed) {
    RegSaveKeyExEntry = nullptr;
    std::wstring target = folder_ / L"PLAIN";

    EXPECT_TRUE(SaveKeyToFile(target.c_str(), TestKey, HKEY_LOCAL_MACHINE));
    EXPECT_EQ(0u, LastSaveError);
    EXPECT_NE(std::string::npos, ReadFileBytes(target).find(Marker));
}

int FakeExtendedSaveCalls = 0;
LONG WINAPI RefusingExtendedSave(HKEY, LPCWSTR file, LPSECURITY_ATTRIBUTES, DWORD flags) {
    ++FakeExtendedSaveCalls;
    EXPECT_EQ(static_cast<DWORD>(REG_NO_COMPRESSION), flags);
    // Leaves debris behind, as a failed save may; the fallback must not trip on it.
    WriteFileBytes(file, "debris");
    return ERROR_ACCESS_DENIED;
}

TEST_F(KeySave, RefusedExtendedSaveFallsBackToThePlainSave) {
    RegSaveKeyExEntry = RefusingExtendedSave;
    FakeExtendedSaveCalls = 0;
    std::wstring target = folder_ / L"FALLBACK";

    EXPECT_TRUE(SaveKeyToFile(target.c_str(), TestKey, HKEY_LOCAL_MACHINE));
    EXPECT_EQ(1, FakeExtendedSaveCalls);
    EXPECT_EQ(0u, LastSaveError);
    std::string bytes = ReadFileBytes(target);
    EXPECT_NE(std::string::npos, bytes.find(Marker));
    EXPECT_EQ(std::string::npos, bytes.find("debris"));
}

TEST_F(KeySave, FailedSaveLeavesNoFileBehind) {
    RegSaveKeyExEntry = RefusingExtendedSave;
    // A target inside a folder that does not exist cannot be written at all.
    std::wstring target = folder_ / L"missing\\HIVE";

    EXPECT_FALSE(SaveKeyToFile(target.c_str(), TestKey, HKEY_LOCAL_MACHINE));
    EXPECT_NE(0u, LastSaveError);
    EXPECT_NE(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), LastSaveError)
        << "only a missing key may ask for the copy fallback";
    EXPECT_FALSE(FileExists(target));
}

}  // namespace
