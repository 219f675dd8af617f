// End-to-end runs of zel.exe: the machine hive pass, the boot store, the
// dated folder and what lands in it. Every run writes under a scratch root.
#include <gtest/gtest.h>

#include <map>
#include <regex>
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

std::string Saved(const std::string& name) {
    return "Backup of " + name + " successfully completed";
}
std::string Failed(const std::string& name, DWORD code) {
    return "Saving error " + name + "  [" + SystemText(code) + "]";
}

struct ZelRun {
    bool started = false;
    bool wellFormed = false;  // every line ends in CR LF
    std::vector<std::string> lines;
};

ZelRun RunBackup(const std::wstring& root, const std::wstring& exe = ZelPath()) {
    ProcessResult result = RunZelAt(exe, L"\"" + root + L"\"");
    ZelRun run;
    run.started = result.started && result.exitCode == 0;
    const std::string& text = result.output;
    run.wellFormed =
        text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        run.lines.push_back(text.substr(start, end - start));
    }
    return run;
}

// Lines of the machine pass, after the banner and the root.
std::vector<std::string> MachineLines(const std::string& bcdLine, bool drivers, bool components,
                                      DWORD configError = ERROR_PATH_NOT_FOUND) {
    std::vector<std::string> lines = {bcdLine,
                                      Saved("SYSTEM"),
                                      Saved("SOFTWARE"),
                                      Saved("DEFAULT"),
                                      Failed("SAM", configError),
                                      Failed("SECURITY", configError)};
    if (drivers) lines.push_back(Failed("DRIVERS", configError));
    if (components) lines.push_back(Failed("COMPONENTS", configError));
    return lines;
}

// Checks the banner, the root and the machine lines exactly, then that the
// profile lines that follow are profile lines, with every profile whose
// hive is loaded reported as saved.
void ExpectRunLines(const ZelRun& run, const std::wstring& root,
                    const std::vector<std::string>& machine) {
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(run.wellFormed);
    ASSERT_GE(run.lines.size(), 2 + machine.size());
    EXPECT_EQ(Banner, run.lines[0]);
    EXPECT_EQ(Narrow(root), run.lines[1]);
    for (size_t i = 0; i < machine.size(); ++i)
        EXPECT_EQ(machine[i], run.lines[2 + i]) << "line " << i + 2;

    std::vector<std::string> profileLines(run.lines.begin() + 2 + machine.size(), run.lines.end());
    const std::regex profileLine(
        "(Backup of S-1-5-[0-9-]+(_Classes)? successfully completed)|"
        "(Saving error S-1-5-[0-9-]+(_Classes)?  \\[.*\\])");
    for (const std::string& line : profileLines) {
        EXPECT_TRUE(std::regex_match(line, profileLine)) << line;
    }
    KeyHandle profiles;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileList, 0, KEY_READ, profiles.put()));
    size_t loaded = 0;
    wchar_t sid[256];
    for (DWORD index = 0; RegEnumKeyW(profiles.get(), index, sid, ARRAYSIZE(sid)) == ERROR_SUCCESS;
         ++index) {
        std::wstring name = sid;
        if (name == L"S-1-5-18" || !KeyExists(HKEY_USERS, name)) continue;
        ++loaded;
        bool reported = false;
        for (const std::string& line : profileLines)
            reported = reported || line == Saved(Narrow(name));
        EXPECT_TRUE(reported) << Narrow(name);
    }
    EXPECT_GT(loaded, 0u) << "this check needs a loaded profile";
}

// Every file under folder with its bytes, by relative path.
std::map<std::wstring, std::string> Contents(const std::wstring& folder,
                                             const std::wstring& prefix = L"") {
    std::map<std::wstring, std::string> files;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return files;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            files[prefix + name + L"\\"] = "";
            for (auto& inner : Contents(folder + L"\\" + name, prefix + name + L"\\"))
                files.insert(inner);
        } else {
            files[prefix + name] = ReadFileBytes(folder + L"\\" + name);
        }
    } while (FindNextFileW(find.get(), &entry));
    return files;
}

std::wstring ConfigFolder() { return SystemDirectory() + L"\\CONFIG"; }

// A value under HKLM\Software that the saved SOFTWARE hive must carry.
class SoftwareMarker {
public:
    SoftwareMarker() : text_(L"zel-marker-" + std::to_wstring(GetCurrentProcessId())) {
        status_ = SetStringValue(HKEY_LOCAL_MACHINE, Key, L"Marker", text_);
    }
    ~SoftwareMarker() { DeleteKeyTree(HKEY_LOCAL_MACHINE, Key); }
    LSTATUS status() const { return status_; }
    // The value as Wine's text hive format writes it.
    std::string savedForm() const { return "\"Marker\"=\"" + Narrow(text_) + "\""; }

private:
    static constexpr const wchar_t* Key = L"Software\\ZelTestMarker";
    std::wstring text_;
    LSTATUS status_;
};

const char* const ToolNames[] = {"revert.exe", "tidy.exe", "revert_x64.exe", "tidy_x64.exe"};

TEST(BackupRun, WholeRunThenSecondRunOfTheDayAddsNothing) {
    ASSERT_FALSE(FolderExists(ConfigFolder())) << "the CONFIG fallbacks would succeed";
    ScopedWineVersion version(L"win7");
    SoftwareMarker marker;
    ASSERT_EQ(ERROR_SUCCESS, marker.status());

    // A copy of zel.exe with the four companion tools beside it.
    ScratchFolder bin(L"zelbin");
    std::wstring exe = bin / L"zel.exe";
    ASSERT_TRUE(CopyFileW(ZelPath().c_str(), exe.c_str(), FALSE));
    std::map<std::string, std::string> tools;
    for (const char* name : ToolNames) {
        tools[name] = std::string("MZ fake ") + name + std::string("\0\x01\xff", 3);
        ASSERT_TRUE(WriteFileBytes(bin / Widen(name), tools[name]));
    }

    ScratchFolder scratch;
    std::wstring root = scratch / L"backup";
    ZelRun first = RunBackup(root, exe);
    ExpectRunLines(first, root, MachineLines(Failed("BCD", ERROR_FILE_NOT_FOUND), false, true));

    std::wstring dated = root + L"\\" + TodayFolderName();
    ASSERT_TRUE(FolderExists(dated));
    std::map<std::wstring, std::string> files = Contents(dated);
    for (const wchar_t* name : {L"SYSTEM", L"SOFTWARE", L"DEFAULT", L"sysdir.txt"}) {
        EXPECT_EQ(1u, files.count(name)) << Narrow(name);
    }
    // Failed hives leave nothing behind, and no boot store was listed.
    for (const wchar_t* name :
         {L"BCD", L"bcd.txt", L"SAM", L"SECURITY", L"DRIVERS", L"COMPONENTS"}) {
        EXPECT_EQ(0u, files.count(name)) << Narrow(name);
    }
    EXPECT_NE(std::string::npos, files[L"SOFTWARE"].find(marker.savedForm()));
    EXPECT_EQ(Utf16Bytes(SystemDirectory().substr(2)), files[L"sysdir.txt"]);
    for (const auto& tool : tools) EXPECT_EQ(tool.second, files[Widen(tool.first)]) << tool.first;

    // The second run must not even rewrite sysdir.txt.
    ASSERT_TRUE(DeleteFileW((dated + L"\\sysdir.txt").c_str()));
    files.erase(L"sysdir.txt");
    ZelRun second = RunBackup(root, exe);
    ASSERT_TRUE(second.started);
    EXPECT_TRUE(second.wellFormed);
    EXPECT_EQ((std::vector<std::string>{Banner, Narrow(root)}), second.lines);
    EXPECT_TRUE(Contents(dated) == files);
}

TEST(BackupRun, NoCompanionToolsBesideZelMeansNoneInTheBackup) {
    std::wstring bin = ZelPath().substr(0, ZelPath().find_last_of(L'\\'));
    for (const char* name : ToolNames) ASSERT_FALSE(FileExists(bin + L"\\" + Widen(name))) << name;
    ScratchFolder scratch;
    std::wstring root = scratch / L"backup";
    ZelRun run = RunBackup(root);
    ASSERT_TRUE(run.started);
    ASSERT_GE(run.lines.size(), 3u);

    std::map<std::wstring, std::string> files = Contents(root + L"\\" + TodayFolderName());
    for (const char* name : ToolNames) EXPECT_EQ(0u, files.count(Widen(name))) << name;
    EXPECT_EQ(Utf16Bytes(SystemDirectory().substr(2)), files[L"sysdir.txt"]);
}

TEST(BackupRun, PlainFileNamedLikeTodayIsNoBackup) {
    ScopedWineVersion version(L"win7");
    ScratchFolder scratch;
    std::wstring root = scratch / L"backup";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    std::wstring dated = root + L"\\" + TodayFolderName();
    ASSERT_TRUE(WriteFileBytes(dated, "not a folder"));

    ZelRun run = RunBackup(root);
    ASSERT_TRUE(run.started);
    const char* const hives[] = {"BCD", "SYSTEM",   "SOFTWARE",  "DEFAULT",
                                 "SAM", "SECURITY", "COMPONENTS"};
    ASSERT_GE(run.lines.size(), 2 + ARRAYSIZE(hives));
    EXPECT_EQ(Banner, run.lines[0]);
    EXPECT_EQ(Narrow(root), run.lines[1]);
    EXPECT_EQ(Failed("BCD", ERROR_FILE_NOT_FOUND), run.lines[2]);
    for (size_t i = 1; i < ARRAYSIZE(hives); ++i) {
        std::string prefix = std::string("Saving error ") + hives[i] + "  [";
        EXPECT_EQ(prefix, run.lines[2 + i].substr(0, prefix.size()));
    }
    for (const std::string& line : run.lines)
        EXPECT_EQ(std::string::npos, line.find("successfully"));
    EXPECT_TRUE(FileExists(dated));
    EXPECT_EQ("not a folder", ReadFileBytes(dated));
}

TEST(BackupRun, RootTooLongForTheDatedFolderIsRefusedWithOneLine) {
    ScratchFolder scratch;
    std::wstring root = scratch.path() + L"\\";
    root += std::wstring(300 - root.size(), L'r');
    ASSERT_EQ(300u, root.size());
    ZelRun run = RunBackup(root);
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(run.wellFormed);
    EXPECT_EQ((std::vector<std::string>{
                  Banner, Narrow(root),
                  Narrow(root) + " [" + SystemText(ERROR_FILENAME_EXCED_RANGE) + "]"}),
              run.lines);
    EXPECT_FALSE(FolderExists(L"\\\\?\\" + root + L"\\" + TodayFolderName()));
}

TEST(BackupRun, LongestRootThatHoldsEveryEntryIsUsedAndOneMoreIsRefused) {
    // The dated folder adds 11 characters, "\revert_x64.exe" 15 more, and a
    // joined path may have 259.
    ScratchFolder scratch;
    std::wstring base = scratch.path() + L"\\";
    std::wstring fits = base + std::wstring(233 - base.size(), L'f');
    std::wstring tooLong = base + std::wstring(234 - base.size(), L'g');

    ZelRun refused = RunBackup(tooLong);
    ASSERT_TRUE(refused.started);
    EXPECT_EQ((std::vector<std::string>{
                  Banner, Narrow(tooLong),
                  Narrow(tooLong) + " [" + SystemText(ERROR_FILENAME_EXCED_RANGE) + "]"}),
              refused.lines);
    EXPECT_FALSE(FolderExists(tooLong + L"\\" + TodayFolderName()));

    ZelRun used = RunBackup(fits);
    ASSERT_TRUE(used.started);
    ASSERT_GE(used.lines.size(), 4u);
    EXPECT_EQ(Saved("SYSTEM"), used.lines[3]);
    EXPECT_EQ(Utf16Bytes(SystemDirectory().substr(2)),
              ReadFileBytes(fits + L"\\" + TodayFolderName() + L"\\sysdir.txt"));
}

TEST(BackupRun, DriversAndComponentsFollowTheSystemVersion) {
    ASSERT_FALSE(FolderExists(ConfigFolder()));
    struct Case {
        const wchar_t* version;
        bool drivers;
        bool components;
    } cases[] = {{L"winxp", false, false}, {L"vista", false, true}, {L"win7", false, true},
                 {L"win8", true, true},    {L"win81", true, true},  {L"win10", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.version));
        ScopedWineVersion version(c.version);
        ScratchFolder scratch;
        std::wstring root = scratch / L"backup";
        ExpectRunLines(RunBackup(root), root,
                       MachineLines(Failed("BCD", ERROR_FILE_NOT_FOUND), c.drivers, c.components));
    }
}

// Hive files in the CONFIG folder of the system directory, removed again
// only when this test made the folder.
class ConfigHives : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(FolderExists(ConfigFolder()));
        ASSERT_TRUE(CreateDirectoryW(ConfigFolder().c_str(), nullptr));
        created_ = true;
    }
    void TearDown() override {
        if (created_) RemoveTree(ConfigFolder());
    }
    bool created_ = false;
};

TEST_F(ConfigHives, HivesThatAreNotLoadedAreCopiedFromTheConfigFolder) {
    ScopedWineVersion version(L"win10");
    std::map<std::string, std::string> hives;
    for (const char* name : {"SAM", "SECURITY", "DRIVERS", "COMPONENTS"}) {
        hives[name] = std::string("regf ") + name + std::string(300000, name[1]);
        ASSERT_TRUE(WriteFileBytes(ConfigFolder() + L"\\" + Widen(name), hives[name]));
    }
    ScratchFolder scratch;
    std::wstring root = scratch / L"backup";
    ZelRun run = RunBackup(root);
    ExpectRunLines(
        run, root,
        {Failed("BCD", ERROR_FILE_NOT_FOUND), Saved("SYSTEM"), Saved("SOFTWARE"), Saved("DEFAULT"),
         Saved("SAM"), Saved("SECURITY"), Saved("DRIVERS"), Saved("COMPONENTS")});
    std::wstring dated = root + L"\\" + TodayFolderName();
    for (const auto& hive : hives) {
        EXPECT_TRUE(hive.second == ReadFileBytes(dated + L"\\" + Widen(hive.first))) << hive.first;
    }
}

// A boot store listed among the loaded hives; the value and key go again.
class ListedBootStore : public ::testing::Test {
protected:
    void TearDown() override {
        DeleteValue(HKEY_LOCAL_MACHINE, HiveList, ValueName);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, StoreKey);
    }
    static constexpr const wchar_t* ValueName = L"\\REGISTRY\\MACHINE\\BCD00000000";
    static constexpr const wchar_t* StoreKey = L"BCD00000000";
};

TEST_F(ListedBootStore, StoreIsSavedAndItsLocationWritten) {
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, StoreKey));
    ASSERT_EQ(ERROR_SUCCESS, SetStringValue(HKEY_LOCAL_MACHINE, HiveList, ValueName,
                                            L"\\Device\\HarddiskVolume1\\Boot\\BCD"));
    ASSERT_EQ(ERROR_SUCCESS,
              SetStringValue(HKEY_LOCAL_MACHINE, StoreKey, L"Marker", L"zel-boot-store-marker"));
    ScopedWineVersion version(L"win7");
    ScratchFolder scratch;
    std::wstring root = scratch / L"backup";
    ExpectRunLines(RunBackup(root), root, MachineLines(Saved("BCD"), false, true));

    std::wstring dated = root + L"\\" + TodayFolderName();
    EXPECT_NE(std::string::npos,
              ReadFileBytes(dated + L"\\BCD").find("\"Marker\"=\"zel-boot-store-marker\""));
    bool ok = false;
    EXPECT_EQ(Utf16Bytes(L"\\\\?\\HARDDISKVOLUME1\\BOOT\\BCD"),
              ReadFileBytes(dated + L"\\bcd.txt", &ok));
    EXPECT_TRUE(ok);
}

TEST_F(ListedBootStore, LocationIsWrittenEvenWhenTheStoreCannotBeSaved) {
    ASSERT_FALSE(FolderExists(ConfigFolder()));
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, StoreKey));
    // Listed, but its key is not there: the CONFIG fallback fails too.
    ASSERT_EQ(ERROR_SUCCESS,
              SetStringValue(HKEY_LOCAL_MACHINE, HiveList, ValueName, L"\\Device\\Ramdisk\\bcd"));
    ScopedWineVersion version(L"win7");
    ScratchFolder scratch;
    std::wstring root = scratch / L"backup";
    ExpectRunLines(RunBackup(root), root,
                   MachineLines(Failed("BCD", ERROR_PATH_NOT_FOUND), false, true));

    std::wstring dated = root + L"\\" + TodayFolderName();
    EXPECT_FALSE(FileExists(dated + L"\\BCD"));
    EXPECT_EQ(Utf16Bytes(L"\\DEVICE\\RAMDISK\\BCD"), ReadFileBytes(dated + L"\\bcd.txt"));
}

TEST(FolderMadeByAnotherRun, OnlyAnExistingFolderAfterAlreadyExistsCounts) {
    ScratchFolder scratch;
    std::wstring file = scratch / L"file";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    const wchar_t* folder = scratch.path().c_str();
    EXPECT_TRUE(FolderMadeByAnotherRun(FALSE, ERROR_ALREADY_EXISTS, folder));
    EXPECT_FALSE(FolderMadeByAnotherRun(FALSE, ERROR_ALREADY_EXISTS, file.c_str()));
    EXPECT_FALSE(
        FolderMadeByAnotherRun(FALSE, ERROR_ALREADY_EXISTS, (scratch / L"missing").c_str()));
    EXPECT_FALSE(FolderMadeByAnotherRun(FALSE, ERROR_ACCESS_DENIED, folder));
    EXPECT_FALSE(FolderMadeByAnotherRun(TRUE, ERROR_SUCCESS, folder));
}

}  // namespace
