#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "app/process_state.h"
#include "backup/boot_store.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

const wchar_t HiveList[] = L"SYSTEM\\CurrentControlSet\\Control\\hivelist";
const wchar_t StoreName[] = L"\\REGISTRY\\MACHINE\\BCD00000000";

// Adds values to the list of loaded hives and removes exactly those again.
class HiveListValues : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& name : added_) DeleteValue(HKEY_LOCAL_MACHINE, HiveList, name);
    }

    void AddBytes(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, HiveList, 0,
                                               KEY_SET_VALUE | KEY_QUERY_VALUE, key.put()));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name.c_str(), 0, type,
                                                static_cast<const BYTE*>(data), bytes));
        added_.push_back(name);
        DWORD stored = 0;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, &stored));
        ASSERT_EQ(bytes, stored) << "the registry added a terminator";
    }

    // Runs the lookup into sentinel-filled buffers.
    bool Find() {
        std::fill(std::begin(keyName_), std::end(keyName_), L'#');
        std::fill(std::begin(filePath_), std::end(filePath_), L'#');
        StdoutCapture capture;
        // Freed blocks of the lookup's buffer sizes, poisoned, so that reading
        // past the data it was given shows.
        { std::vector<wchar_t> name(2048, L'x'), data(2049, L'x'); }
        bool found = FindBcdHive(keyName_, filePath_);
        EXPECT_EQ("", capture.Bytes());
        return found;
    }

    wchar_t keyName_[PathCapacity];
    wchar_t filePath_[PathCapacity];

private:
    std::vector<std::wstring> added_;
};

TEST_F(HiveListValues, LowerCaseNameMatchesAndKeyNameIsUpperCased) {
    std::wstring data = L"\\device\\harddiskvolume3\\efi\\bcd";
    AddBytes(L"\\registry\\machine\\bcd00000000", REG_SZ, data.c_str(), (data.size() + 1) * 2);
    ASSERT_TRUE(Find());
    EXPECT_STREQ(L"BCD00000000", keyName_);
    EXPECT_STREQ(L"\\\\?\\HARDDISKVOLUME3\\EFI\\BCD", filePath_);
}

TEST_F(HiveListValues, OnlyMatchOfAnotherTypeIsSkipped) {
    std::wstring data = L"\\Device\\HarddiskVolume1\\Boot\\BCD";
    AddBytes(StoreName, REG_EXPAND_SZ, data.c_str(), (data.size() + 1) * 2);
    EXPECT_FALSE(Find());
    EXPECT_EQ(std::wstring(PathCapacity, L'#'), std::wstring(keyName_, PathCapacity));
    EXPECT_EQ(std::wstring(PathCapacity, L'#'), std::wstring(filePath_, PathCapacity));
}

TEST_F(HiveListValues, FullDataBufferWithoutTerminatorIsUsedWhole) {
    // 4096 bytes and no NUL; the character after them in memory must not be read.
    std::wstring prefix = L"\\Device\\HarddiskVolume1\\";
    std::wstring data = prefix + std::wstring(2048 - prefix.size(), L'a') + L"Z";
    AddBytes(StoreName, REG_SZ, data.c_str(), 4096);
    ASSERT_TRUE(Find());
    EXPECT_EQ(L"\\\\?\\HARDDISKVOLUME1\\" + std::wstring(2048 - prefix.size(), L'A'),
              std::wstring(filePath_));
}

TEST(RunBcdEdit, MissingProgramReturnsSilently) {
    ScratchFolder scratch;
    StdoutCapture capture;
    RunBcdEdit((scratch / L"bcdedit.exe").c_str());
    EXPECT_EQ("", capture.Bytes());
}

TEST(WaitForToolEnd, ToolThatNeverEndsIsTerminatedWhenTheTimeIsUp) {
    std::wstring hostname = SystemDirectory() + L"\\hostname.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    // Suspended, it cannot end by itself, whatever the time given.
    ASSERT_TRUE(CreateProcessW(hostname.c_str(), nullptr, nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED | CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                               &started));
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);
    EXPECT_FALSE(WaitForToolEnd(process.get(), 100));
    DWORD exitCode = 0xDEADBEEF;
    EXPECT_TRUE(GetExitCodeProcess(process.get(), &exitCode));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), exitCode);
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), INFINITE);
}

}  // namespace
