// Whole runs of zel.exe, each under a scratch root.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "backup/dated_run.h"
#include "support/child_process.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"

namespace {

const wchar_t HiveList[] = L"SYSTEM\\CurrentControlSet\\Control\\hivelist";
const wchar_t ProfileList[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char Banner[] = "ZEL - Corvane v1.20";
const char* const ToolNames[] = {"revert.exe", "tidy.exe", "revert_x64.exe", "tidy_x64.exe"};

std::string Outcome(const std::string& name, DWORD code = ERROR_SUCCESS) {
    if (code == ERROR_SUCCESS) return "Backup of " + name + " successfully completed";
    return "Saving error " + name + "  [" + SystemText(code) + "]";
}

std::wstring ConfigFolder() { return SystemDirectory() + L"\\CONFIG"; }

// Text after the last CR LF becomes a line of its own, so a missing line end shows.
std::vector<std::string> RunLines(const std::wstring& root, const std::wstring& exe = ZelPath()) {
    ProcessResult result = RunZelAt(exe, L"\"" + root + L"\"");
    EXPECT_TRUE(result.started);
    EXPECT_EQ(0u, result.exitCode);
    const std::string& text = result.output;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// The whole output of a run that makes today's folder. liveError is what the
// saves of loaded hives give (SYSTEM, SOFTWARE, DEFAULT and each loaded
// profile hive), configError what the hives that are not loaded give.
std::vector<std::string> ExpectedLines(const std::wstring& root, bool drivers, bool components,
                                       DWORD bcdError = ERROR_FILE_NOT_FOUND,
                                       DWORD configError = ERROR_PATH_NOT_FOUND,
                                       DWORD liveError = ERROR_SUCCESS) {
    std::vector<std::string> lines = {Banner, Narrow(root), Outcome("BCD", bcdError)};
    for (const char* hive : {"SYSTEM", "SOFTWARE", "DEFAULT"})
        lines.push_back(Outcome(hive, liveError));
    for (const char* hive : {"SAM", "SECURITY"}) lines.push_back(Outcome(hive, configError));
    if (drivers) lines.push_back(Outcome("DRIVERS", configError));
    if (components) lines.push_back(Outcome("COMPONENTS", configError));

    KeyHandle list;
    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileList, 0, KEY_READ, list.put()));
    size_t machineLines = lines.size();
    wchar_t sid[256];
    for (DWORD i = 0; RegEnumKeyW(list.get(), i, sid, ARRAYSIZE(sid)) == ERROR_SUCCESS; ++i) {
        if (std::wstring(sid) == L"S-1-5-18") continue;
        for (const std::wstring& hive : {std::wstring(sid), sid + std::wstring(L"_Classes")})
            if (KeyExists(HKEY_USERS, hive)) lines.push_back(Outcome(Narrow(hive), liveError));
    }
    EXPECT_LT(machineLines, lines.size()) << "these checks need a loaded profile";
    return lines;
}

// Every file and folder under folder, by relative path, with the files' bytes.
std::map<std::wstring, std::string> Contents(const std::wstring& folder,
                                             const std::wstring& prefix = L"") {
    std::map<std::wstring, std::string> files;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return files;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            files.merge(Contents(path, prefix + name + L"\\"));
        files[prefix + name] = ReadFileBytes(path);  // empty for a folder
    } while (FindNextFileW(find.get(), &entry));
    return files;
}

// Removes a key under HKLM, and a value of the hive list, however the test ends.
struct AddedMachineEntries {
    std::wstring key;
    std::wstring listValue;
    ~AddedMachineEntries() {
        if (!listValue.empty()) DeleteValue(HKEY_LOCAL_MACHINE, HiveList, listValue);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
    }
};

std::string ToolBytes(const char* name) {
    return std::string("MZ fake ") + name + std::string("\0\x01\xff", 3);
}

// A scratch backup root and the path today's folder gets under it.
class BackupRun : public ::testing::Test {
protected:
    ScratchFolder scratch_;
    std::wstring root_ = scratch_ / L"backup";
    std::wstring dated_ = root_ + L"\\" + TodayFolderName();
};

TEST_F(BackupRun, WholeRunThenSecondRunOfTheDayAddsNothing) {
    ASSERT_FALSE(FolderExists(ConfigFolder()));
    ScopedWineVersion version(L"win7");
    AddedMachineEntries marker{L"Software\\ZelTestMarker", L""};
    std::string markerText = "zel-marker-" + std::to_string(GetCurrentProcessId());
    ASSERT_EQ(ERROR_SUCCESS,
              SetStringValue(HKEY_LOCAL_MACHINE, marker.key, L"Marker", Widen(markerText)));

    ScratchFolder bin(L"zelbin");
    std::wstring exe = bin / L"zel.exe";
    ASSERT_TRUE(CopyFileW(ZelPath().c_str(), exe.c_str(), FALSE));
    for (const char* name : ToolNames)
        ASSERT_TRUE(WriteFileBytes(bin / Widen(name), ToolBytes(name)));

    EXPECT_EQ(ExpectedLines(root_, false, true), RunLines(root_, exe));
    ASSERT_TRUE(FolderExists(dated_));
    std::map<std::wstring, std::string> files = Contents(dated_);
    for (const wchar_t* name : {L"SYSTEM", L"SOFTWARE", L"DEFAULT"})
        EXPECT_EQ(1u, files.count(name)) << Narrow(name);
    for (const wchar_t* name : {L"BCD", L"bcd.txt", L"SAM", L"SECURITY", L"COMPONENTS"})
        EXPECT_EQ(0u, files.count(name)) << Narrow(name);
    EXPECT_NE(std::string::npos, files[L"SOFTWARE"].find("\"Marker\"=\"" + markerText + "\""));
    EXPECT_EQ(Utf16Bytes(L"\\windows\\system32"), files[L"sysdir.txt"]);
    for (const char* name : ToolNames) EXPECT_EQ(ToolBytes(name), files[Widen(name)]) << name;

    // The second run must not even rewrite sysdir.txt.
    ASSERT_TRUE(DeleteFileW((dated_ + L"\\sysdir.txt").c_str()));
    files.erase(L"sysdir.txt");
    EXPECT_EQ((std::vector<std::string>{Banner, Narrow(root_)}), RunLines(root_, exe));
    EXPECT_TRUE(Contents(dated_) == files);
}

TEST_F(BackupRun, PlainFileNamedLikeTodayIsNoBackup) {
    ScopedWineVersion version(L"win7");
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dated_, "not a folder"));
    EXPECT_EQ(ExpectedLines(root_, false, true, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
                            ERROR_PATH_NOT_FOUND),
              RunLines(root_));
    EXPECT_EQ("not a folder", ReadFileBytes(dated_));
}

TEST_F(BackupRun, LongestRootThatHoldsEveryEntryIsUsedAndOneMoreIsRefused) {
    // The dated folder adds 11 characters, "\revert_x64.exe" 15 more, and a
    // joined path may have 259.
    std::wstring base = scratch_.path() + L"\\";
    std::wstring fits = base + std::wstring(233 - base.size(), L'f');
    std::wstring tooLong = base + std::wstring(234 - base.size(), L'g');

    EXPECT_EQ((std::vector<std::string>{
                  Banner, Narrow(tooLong),
                  Narrow(tooLong) + " [" + SystemText(ERROR_FILENAME_EXCED_RANGE) + "]"}),
              RunLines(tooLong));
    EXPECT_TRUE(Contents(tooLong).empty());

    std::vector<std::string> used = RunLines(fits);
    ASSERT_GE(used.size(), 4u);
    EXPECT_EQ(Outcome("SYSTEM"), used[3]);
    EXPECT_EQ(Utf16Bytes(L"\\windows\\system32"),
              ReadFileBytes(fits + L"\\" + TodayFolderName() + L"\\sysdir.txt"));
}

TEST_F(BackupRun, HivesThatAreNotLoadedAreCopiedFromTheConfigFolder) {
    ASSERT_FALSE(FolderExists(ConfigFolder()));
    ASSERT_TRUE(CreateDirectoryW(ConfigFolder().c_str(), nullptr));
    struct RemoveConfig {
        ~RemoveConfig() { RemoveTree(ConfigFolder()); }
    } removeConfig;
    ScopedWineVersion version(L"win10");
    std::map<std::string, std::string> hives;
    for (const char* name : {"SAM", "SECURITY", "DRIVERS", "COMPONENTS"}) {
        hives[name] = std::string("regf ") + name + std::string(300000, name[1]);
        ASSERT_TRUE(WriteFileBytes(ConfigFolder() + L"\\" + Widen(name), hives[name]));
    }
    EXPECT_EQ(ExpectedLines(root_, true, true, ERROR_FILE_NOT_FOUND, ERROR_SUCCESS),
              RunLines(root_));
    for (const auto& hive : hives)
        EXPECT_TRUE(hive.second == ReadFileBytes(dated_ + L"\\" + Widen(hive.first))) << hive.first;
}

TEST_F(BackupRun, ListedBootStoreIsSavedAndItsLocationWritten) {
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"BCD00000000"));
    AddedMachineEntries store{L"BCD00000000", L"\\REGISTRY\\MACHINE\\BCD00000000"};
    ASSERT_EQ(ERROR_SUCCESS, SetStringValue(HKEY_LOCAL_MACHINE, HiveList, store.listValue,
                                            L"\\Device\\HarddiskVolume1\\Boot\\BCD"));
    ASSERT_EQ(ERROR_SUCCESS,
              SetStringValue(HKEY_LOCAL_MACHINE, store.key, L"Marker", L"zel-boot-store-marker"));
    ScopedWineVersion version(L"win7");
    EXPECT_EQ(ExpectedLines(root_, false, true, ERROR_SUCCESS), RunLines(root_));
    EXPECT_NE(std::string::npos,
              ReadFileBytes(dated_ + L"\\BCD").find("\"Marker\"=\"zel-boot-store-marker\""));
    EXPECT_EQ(Utf16Bytes(L"\\\\?\\HARDDISKVOLUME1\\BOOT\\BCD"),
              ReadFileBytes(dated_ + L"\\bcd.txt"));
}

struct VersionCase { const wchar_t* version; bool drivers; bool components; };

class VersionGating : public BackupRun, public ::testing::WithParamInterface<VersionCase> {};

// The zel.exe beside the test programs has no companion tools next to it.
TEST_P(VersionGating, DriversAndComponentsFollowTheSystemVersionAndNoToolIsCopied) {
    ASSERT_FALSE(FolderExists(ConfigFolder()));
    std::wstring bin = ZelPath().substr(0, ZelPath().find_last_of(L'\\') + 1);
    for (const char* name : ToolNames) ASSERT_FALSE(FileExists(bin + Widen(name))) << name;
    ScopedWineVersion version(GetParam().version);
    EXPECT_EQ(ExpectedLines(root_, GetParam().drivers, GetParam().components), RunLines(root_));
    std::map<std::wstring, std::string> files = Contents(dated_);
    for (const char* name : ToolNames) EXPECT_EQ(0u, files.count(Widen(name))) << name;
    EXPECT_EQ(Utf16Bytes(L"\\windows\\system32"), files[L"sysdir.txt"]);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionGating,
                         ::testing::Values(VersionCase{L"winxp", false, false},
                                           VersionCase{L"vista", false, true},
                                           VersionCase{L"win7", false, true},
                                           VersionCase{L"win8", true, true},
                                           VersionCase{L"win81", true, true},
                                           VersionCase{L"win10", true, true}),
                         [](const auto& info) { return Narrow(info.param.version); });

TEST(FolderMadeByAnotherRun, OnlyAnExistingFolderAfterAlreadyExistsCounts) {
    ScratchFolder scratch;
    std::wstring file = scratch / L"file";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    const wchar_t* folder = scratch.path().c_str();
    EXPECT_TRUE(FolderMadeByAnotherRun(FALSE, ERROR_ALREADY_EXISTS, folder));
    EXPECT_FALSE(FolderMadeByAnotherRun(FALSE, ERROR_ALREADY_EXISTS, file.c_str()));
    EXPECT_FALSE(FolderMadeByAnotherRun(FALSE, ERROR_ACCESS_DENIED, folder));
    EXPECT_FALSE(FolderMadeByAnotherRun(TRUE, ERROR_SUCCESS, folder));
}

}  // namespace
