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

// Adds values to the list of loaded hives and removes exactly those again.
class HiveListValues : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& name : added_) DeleteValue(HKEY_LOCAL_MACHINE, HiveList, name);
    }

    void AddBytes(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, HiveList, 0, KEY_SET_VALUE, key.put()));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name.c_str(), 0, type,
                                                static_cast<const BYTE*>(data), bytes));
        added_.push_back(name);
    }
    void AddString(const std::wstring& name, const std::wstring& data, DWORD type = REG_SZ) {
        AddBytes(name, type, data.c_str(), static_cast<DWORD>((data.size() + 1) * 2));
    }
    // The characters of data without the terminating NUL. The registry adds
    // a NUL itself when the character after the data is one, so it is not.
    void AddUnterminated(const std::wstring& name, const std::wstring& data) {
        std::wstring padded = data + L"Z";
        AddBytes(name, REG_SZ, padded.data(), static_cast<DWORD>(data.size() * 2));
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, HiveList, 0, KEY_READ, key.put()));
        DWORD bytes = 0;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, &bytes));
        ASSERT_EQ(data.size() * 2, bytes) << "the value was stored with a terminator";
    }

    // Value names of the list in enumeration order.
    static std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        KeyHandle key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, HiveList, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            return names;
        }
        for (DWORD index = 0;; ++index) {
            wchar_t name[2048];
            DWORD length = ARRAYSIZE(name);
            if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS) {
                break;
            }
            names.push_back(name);
        }
        return names;
    }

    // Runs the lookup into sentinel-filled buffers.
    bool Find() {
        std::fill(std::begin(keyName_), std::end(keyName_), L'#');
        std::fill(std::begin(filePath_), std::end(filePath_), L'#');
        keyName_[PathCapacity - 1] = L'\0';
        filePath_[PathCapacity - 1] = L'\0';
        StdoutCapture capture;
        bool found = FindBcdHive(keyName_, filePath_);
        printed_ = capture.Bytes();
        return found;
    }
    bool Untouched() const {
        for (size_t i = 0; i + 1 < PathCapacity; ++i) {
            if (keyName_[i] != L'#' || filePath_[i] != L'#') return false;
        }
        return true;
    }

    wchar_t keyName_[PathCapacity];
    wchar_t filePath_[PathCapacity];
    std::string printed_;

private:
    std::vector<std::wstring> added_;
};

TEST_F(HiveListValues, NoBootStoreValueFindsNothingAndLeavesBuffersAlone) {
    AddString(L"\\REGISTRY\\MACHINE\\SOFTWARE", L"\\Device\\HarddiskVolume1\\x\\SOFTWARE");
    EXPECT_FALSE(Find());
    EXPECT_TRUE(Untouched());
    EXPECT_EQ("", printed_);
}

TEST_F(HiveListValues, DeviceVolumePathBecomesLongPathForm) {
    AddString(L"\\REGISTRY\\MACHINE\\BCD00000000", L"\\Device\\HarddiskVolume1\\Boot\\BCD");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(L"BCD00000000", keyName_);
    EXPECT_STREQ(L"\\\\?\\HARDDISKVOLUME1\\BOOT\\BCD", filePath_);
    EXPECT_EQ("", printed_);
}

TEST_F(HiveListValues, LowerCaseNameMatchesAndKeyNameIsUpperCased) {
    AddString(L"\\registry\\machine\\bcd00000000", L"\\device\\harddiskvolume3\\efi\\bcd");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(L"BCD00000000", keyName_);
    EXPECT_STREQ(L"\\\\?\\HARDDISKVOLUME3\\EFI\\BCD", filePath_);
}

TEST_F(HiveListValues, OtherPathFormIsOnlyUpperCased) {
    AddString(L"\\REGISTRY\\MACHINE\\BCD00000000", L"\\Device\\Ramdisk\\boot\\bcd");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(L"\\DEVICE\\RAMDISK\\BOOT\\BCD", filePath_);
}

TEST_F(HiveListValues, ValuesOfOtherTypesAreSkippedAndTheSearchGoesOn) {
    const BYTE binary[] = {'\\', 0, 'X', 0, 0, 0};
    AddBytes(L"\\REGISTRY\\MACHINE\\BCD00000000", REG_BINARY, binary, sizeof(binary));
    AddString(L"\\REGISTRY\\MACHINE\\BCD00000001", L"\\Device\\HarddiskVolume9\\expand",
              REG_EXPAND_SZ);
    AddString(L"\\REGISTRY\\MACHINE\\BCD00000002", L"\\Device\\HarddiskVolume2\\Boot\\BCD");
    // The skipped values must come first for this to mean anything.
    std::vector<std::wstring> names = Names();
    ASSERT_EQ(3u, names.size());
    ASSERT_EQ(L"\\REGISTRY\\MACHINE\\BCD00000002", names[2]);

    ASSERT_TRUE(Find());
    EXPECT_STREQ(L"BCD00000002", keyName_);
    EXPECT_STREQ(L"\\\\?\\HARDDISKVOLUME2\\BOOT\\BCD", filePath_);
}

TEST_F(HiveListValues, OnlyMatchOfAnotherTypeFindsNothing) {
    AddString(L"\\REGISTRY\\MACHINE\\BCD00000000", L"\\Device\\HarddiskVolume1\\Boot\\BCD",
              REG_EXPAND_SZ);
    EXPECT_FALSE(Find());
    EXPECT_TRUE(Untouched());
}

TEST_F(HiveListValues, FirstMatchInEnumerationOrderWins) {
    AddString(L"\\REGISTRY\\MACHINE\\BCD00000000", L"\\Device\\HarddiskVolume1\\first");
    AddString(L"\\REGISTRY\\MACHINE\\BCD00000001", L"\\Device\\HarddiskVolume1\\second");
    std::vector<std::wstring> names = Names();
    ASSERT_EQ(2u, names.size());
    ASSERT_EQ(L"\\REGISTRY\\MACHINE\\BCD00000000", names[0]);
    ASSERT_TRUE(Find());
    EXPECT_STREQ(L"BCD00000000", keyName_);
    EXPECT_STREQ(L"\\\\?\\HARDDISKVOLUME1\\FIRST", filePath_);
}

TEST_F(HiveListValues, UnterminatedDataEndsAtTheBytesReturned) {
    // The earlier value leaves a longer text in the lookup's data buffer; an
    // unterminated later value must not run on into it.
    AddString(L"\\REGISTRY\\MACHINE\\AAAA", L"\\Device\\HarddiskVolume7\\LEFTOVERLEFTOVERLEFTOVER");
    AddUnterminated(L"\\REGISTRY\\MACHINE\\BCD00000000", L"\\Device\\HarddiskVolume1\\B");
    std::vector<std::wstring> names = Names();
    ASSERT_EQ(2u, names.size());
    ASSERT_EQ(L"\\REGISTRY\\MACHINE\\AAAA", names[0]);

    ASSERT_TRUE(Find());
    EXPECT_STREQ(L"\\\\?\\HARDDISKVOLUME1\\B", filePath_);
}

TEST_F(HiveListValues, FullDataBufferWithoutTerminatorIsUsedWhole) {
    // 4096 bytes, no NUL: the device form shrinks by four and fits the result.
    std::wstring prefix = L"\\Device\\HarddiskVolume1\\";
    std::wstring data = prefix + std::wstring(2048 - prefix.size(), L'a');
    ASSERT_EQ(2048u, data.size());
    AddUnterminated(L"\\REGISTRY\\MACHINE\\BCD00000000", data);
    ASSERT_TRUE(Find());
    std::wstring expected = L"\\\\?\\HARDDISKVOLUME1\\" + std::wstring(2048 - prefix.size(), L'A');
    EXPECT_EQ(expected, std::wstring(filePath_));
}

TEST_F(HiveListValues, PathTooLongForTheResultIsRefusedWhole) {
    // 2048 characters of another form cannot be handed back with a terminator.
    AddUnterminated(L"\\REGISTRY\\MACHINE\\BCD00000000", std::wstring(2048, L'c'));
    EXPECT_FALSE(Find());
    EXPECT_TRUE(Untouched());
}

TEST(RewriteVolumeDevicePath, OnlyTheExactDevicePrefixIsRewritten) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"\\DEVICE\\HARDDISKVOLUME1\\BOOT\\BCD", L"\\\\?\\HARDDISKVOLUME1\\BOOT\\BCD"},
        {L"\\DEVICE\\HARDDISKVOLUME", L"\\\\?\\HARDDISKVOLUME"},
        {L"\\DEVICE\\HARDDISK0\\BCD", L"\\DEVICE\\HARDDISK0\\BCD"},
        {L"\\DEVICE\\HARDDISKVOLUM", L"\\DEVICE\\HARDDISKVOLUM"},
        {L"C:\\BOOT\\BCD", L"C:\\BOOT\\BCD"},
        {L"\\DE", L"\\DE"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        wchar_t path[64];
        std::fill(std::begin(path), std::end(path), L'#');
        wcscpy(path, c.in);
        RewriteVolumeDevicePath(path);
        EXPECT_STREQ(c.out, path) << "input " << Narrow(c.in);
    }
}

TEST(RunBcdEdit, MissingProgramReturnsSilently) {
    ScratchFolder scratch;
    StdoutCapture capture;
    RunBcdEdit((scratch / L"bcdedit.exe").c_str());
    EXPECT_EQ("", capture.Bytes());
}

TEST(RunBcdEdit, WaitsForTheToolAndHandsItEnum) {
    // A batch file records its argument, and only after it has ended is the
    // record complete: the call must have waited for that.
    ScratchFolder scratch;
    std::wstring record = scratch / L"ran.txt";
    std::wstring tool = scratch / L"tool.cmd";
    ASSERT_TRUE(WriteFileBytes(tool, "@echo %1> \"" + Narrow(record) + "\"\r\n@echo done>> \"" +
                                         Narrow(record) + "\"\r\n"));
    StdoutCapture capture;
    RunBcdEdit(tool.c_str());
    EXPECT_EQ("", capture.Bytes());
    bool ok = false;
    EXPECT_EQ("/enum\r\ndone\r\n", ReadFileBytes(record, &ok));
    EXPECT_TRUE(ok);
}

TEST(RunBcdEdit, ProgramThatEndsAtOnceReturnsSilently) {
    std::wstring hostname = SystemDirectory() + L"\\hostname.exe";
    ASSERT_TRUE(FileExists(hostname));
    StdoutCapture capture;
    RunBcdEdit(hostname.c_str());
    EXPECT_EQ("", capture.Bytes());
}

TEST(RunBcdEdit, PathTooLongForTheCommandLineStartsNothing) {
    ScratchFolder scratch;
    std::wstring record = scratch / L"ran.txt";
    std::wstring tool = scratch / L"tool.cmd";
    ASSERT_TRUE(WriteFileBytes(tool, "@echo %1> \"" + Narrow(record) + "\"\r\n"));
    // Padded with "\." parts, the path still names the tool but no longer
    // fits the command line with its quotes and argument.
    std::wstring longPath = scratch.path();
    while (longPath.size() + 1 + 8 + 3 + 6 <= PathCapacity) longPath += L"\\.";
    longPath += L"\\tool.cmd";
    RunBcdEdit(longPath.c_str());
    EXPECT_FALSE(FileExists(record));
}

class SuspendedTool : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring hostname = SystemDirectory() + L"\\hostname.exe";
        std::wstring line = L"\"" + hostname + L"\"";
        std::vector<wchar_t> commandLine(line.begin(), line.end());
        commandLine.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        ASSERT_TRUE(CreateProcessW(hostname.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                   CREATE_SUSPENDED | CREATE_NEW_CONSOLE, nullptr, nullptr,
                                   &startup, &started));
        process_.reset(started.hProcess);
        thread_.reset(started.hThread);
    }
    void TearDown() override {
        if (process_) {
            TerminateProcess(process_.get(), 1);
            WaitForSingleObject(process_.get(), INFINITE);
        }
    }
    KernelHandle process_;
    KernelHandle thread_;
};

TEST_F(SuspendedTool, ToolThatNeverEndsIsTerminatedWhenTheTimeIsUp) {
    // A suspended process cannot end by itself, whatever the time given.
    EXPECT_FALSE(WaitForToolEnd(process_.get(), 100));
    DWORD exitCode = 0xDEADBEEF;
    ASSERT_TRUE(GetExitCodeProcess(process_.get(), &exitCode));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), exitCode);
}

TEST_F(SuspendedTool, ToolThatEndsIsNotTerminated) {
    ASSERT_NE(static_cast<DWORD>(-1), ResumeThread(thread_.get()));
    EXPECT_TRUE(WaitForToolEnd(process_.get(), BcdEditWaitMs));
    DWORD exitCode = 0xDEADBEEF;
    ASSERT_TRUE(GetExitCodeProcess(process_.get(), &exitCode));
    EXPECT_EQ(0u, exitCode);
}

}  // namespace
