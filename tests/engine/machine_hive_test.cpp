#include <gtest/gtest.h>

#include <strsafe.h>

#include "app/owned_handle.h"
#include "app/process_state.h"
#include "backup/machine_hive.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

const wchar_t HiveName[] = L"ZELTESTHIVE";

// Points BackupRoot at a scratch folder for the test and puts it back after.
class MachineHive : public ::testing::Test {
protected:
    void SetUp() override {
        StringCchCopyW(savedRoot_, ARRAYSIZE(savedRoot_), BackupRoot);
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), folder_.path().c_str());
        configFolder_ = SystemDirectory() + L"\\CONFIG";
        madeConfigFolder_ = CreateDirectoryW(configFolder_.c_str(), nullptr) != FALSE;
    }
    void TearDown() override {
        DeleteFileW((configFolder_ + L"\\" + HiveName).c_str());
        if (madeConfigFolder_) RemoveDirectoryW(configFolder_.c_str());
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), savedRoot_);
    }

    ScratchFolder folder_;
    std::wstring configFolder_;
    bool madeConfigFolder_ = false;
    wchar_t savedRoot_[LongPathCapacity] = {};
};

TEST_F(MachineHive, LoadedKeyIsSavedAndReported) {
    ASSERT_EQ(ERROR_SUCCESS,
              SetStringValue(HKEY_LOCAL_MACHINE, L"Software\\ZelMachineHiveTest", L"M", L"ZelM1"));
    StdoutCapture out;

    EXPECT_TRUE(SaveMachineHive(HKEY_LOCAL_MACHINE, HiveName, L"Software\\ZelMachineHiveTest"));
    std::string printed = out.Bytes();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\ZelMachineHiveTest");

    EXPECT_EQ("Backup of ZELTESTHIVE successfully completed\r\n", printed);
    EXPECT_NE(std::string::npos, ReadFileBytes(folder_ / HiveName).find("ZelM1"));
}

TEST_F(MachineHive, MissingKeyIsCopiedFromTheConfigFolder) {
    std::string hive = "regf";
    for (int i = 0; i < 70000; ++i) hive.push_back(static_cast<char>(i * 7));
    ASSERT_TRUE(WriteFileBytes(configFolder_ + L"\\" + HiveName, hive));
    StdoutCapture out;

    EXPECT_TRUE(SaveMachineHive(HKEY_LOCAL_MACHINE, HiveName, L"ZelNoSuchHiveKey"));

    EXPECT_EQ("Backup of ZELTESTHIVE successfully completed\r\n", out.Bytes());
    EXPECT_TRUE(hive == ReadFileBytes(folder_ / HiveName));
}

TEST_F(MachineHive, MissingKeyAndFileGiveTheFailureLine) {
    StdoutCapture out;

    EXPECT_FALSE(SaveMachineHive(HKEY_LOCAL_MACHINE, HiveName, L"ZelNoSuchHiveKey"));

    EXPECT_EQ("Saving error ZELTESTHIVE  [" + SystemText(ERROR_FILE_NOT_FOUND) + "]\r\n",
              out.Bytes());
    EXPECT_FALSE(FileExists(folder_ / HiveName));
}

TEST_F(MachineHive, RootTooLongForAJoinIsRefused) {
    std::wstring longRoot = folder_.path() + L"\\" + std::wstring(300, L'r');
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), longRoot.c_str());
    StdoutCapture out;

    EXPECT_FALSE(SaveMachineHive(HKEY_LOCAL_MACHINE, HiveName, L"Software"));

    EXPECT_EQ("Saving error ZELTESTHIVE  [" + SystemText(ERROR_FILENAME_EXCED_RANGE) + "]\r\n",
              out.Bytes());
}


TEST(OpenMachineKey, MissingKeyIsNotReported) {
    StdoutCapture out;
    HKEY key = reinterpret_cast<HKEY>(0x1234);

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenMachineKey(L"Software\\ZelNoSuchKey", &key));
    EXPECT_EQ("", out.Bytes());
}


TEST(OpenMachineKey, UnreadableKeyPrintsBothLines) {
    // An empty DACL lets nobody read the key.
    const wchar_t subkey[] = L"Software\\ZelLockedKey";
    KeyHandle created;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, created.put(), nullptr));
    SECURITY_DESCRIPTOR descriptor;
    ACL emptyAcl;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(&emptyAcl, sizeof(emptyAcl), ACL_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE);
    LSTATUS locked = RegSetKeySecurity(created.get(), DACL_SECURITY_INFORMATION, &descriptor);

    LSTATUS status = ERROR_SUCCESS;
    std::string printed;
    KeyHandle key;
    {
        StdoutCapture out;
        status = OpenMachineKey(subkey, key.put());
        printed = out.Bytes();
    }
    created.reset();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, subkey);

    if (locked != ERROR_SUCCESS || status == ERROR_SUCCESS) {
        GTEST_SKIP() << "this platform does not enforce key security (RegSetKeySecurity "
                     << locked << ", open " << status << ")";
    }
    EXPECT_EQ(ERROR_ACCESS_DENIED, status);
    EXPECT_EQ("(!) Unable to open key: [" + SystemText(ERROR_ACCESS_DENIED) +
                  "]\r\nHKLM\\Software\\ZelLockedKey\r\n",
              printed);
}

}  // namespace
