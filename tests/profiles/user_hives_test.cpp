#include <gtest/gtest.h>

#include <strsafe.h>
#include <wctype.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "app/process_state.h"
#include "backup/user_hives.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

const std::wstring ProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring ClassesTail =
    L"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";

std::wstring ProfileKey(const std::wstring& name) { return ProfileList + L"\\" + name; }

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = towupper(c);
    return text;
}

std::wstring Expand(const std::wstring& text) {
    wchar_t expanded[LongPathCapacity];
    DWORD n = ExpandEnvironmentStringsW(text.c_str(), expanded, ARRAYSIZE(expanded));
    return n == 0 || n > ARRAYSIZE(expanded) ? text : std::wstring(expanded);
}

// Subkeys of ProfileList in the order the registry lists them.
std::vector<std::wstring> ListedProfiles() {
    std::vector<std::wstring> names;
    KeyHandle list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileList.c_str(), 0, KEY_READ, list.put()) !=
        ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[PathCapacity];
    for (DWORD i = 0; RegEnumKeyW(list.get(), i, name, PathCapacity) == ERROR_SUCCESS; ++i) {
        names.push_back(name);
    }
    return names;
}

// Entry names of a folder as the file system spells them, sorted.
std::vector<std::wstring> FolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return names;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find.get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::string SavedLine(const std::wstring& key) {
    return "Backup of " + Narrow(key) + " successfully completed\r\n";
}

std::string FailedLine(const std::wstring& key, DWORD code) {
    return "Saving error " + Narrow(key) + "  [" + SystemText(code) + "]\r\n";
}

std::string HiveBytes(const std::string& tag) {
    std::string bytes = "regf" + tag;
    bytes.push_back('\0');
    for (int i = 0; i < 3000; ++i) bytes.push_back(static_cast<char>((i * 13 + tag.size()) & 0xFF));
    return bytes;
}

// Subkeys added to ProfileList by one test; exactly those are removed again.
class FakeProfiles {
public:
    FakeProfiles() = default;
    ~FakeProfiles() {
        for (const std::wstring& name : added_) DeleteKeyTree(HKEY_LOCAL_MACHINE, ProfileKey(name));
    }
    FakeProfiles(const FakeProfiles&) = delete;
    FakeProfiles& operator=(const FakeProfiles&) = delete;

    ::testing::AssertionResult Add(const std::wstring& name) {
        if (KeyExists(HKEY_LOCAL_MACHINE, ProfileKey(name))) {
            return ::testing::AssertionFailure() << Narrow(name) << " is listed already";
        }
        KeyHandle key;
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ProfileKey(name).c_str(), 0, nullptr,
                                         0, KEY_WRITE, nullptr, key.put(), nullptr);
        if (status != ERROR_SUCCESS) {
            return ::testing::AssertionFailure() << "creating " << Narrow(name) << ": " << status;
        }
        added_.push_back(name);
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult AddWithPath(const std::wstring& name, const std::wstring& path,
                                           DWORD type = REG_SZ) {
        ::testing::AssertionResult added = Add(name);
        if (!added) return added;
        LSTATUS status =
            SetStringValue(HKEY_LOCAL_MACHINE, ProfileKey(name), L"ProfileImagePath", path, type);
        if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << status;
        return ::testing::AssertionSuccess();
    }

    // ProfileImagePath with exactly these data bytes (no terminator added).
    ::testing::AssertionResult AddWithRawPath(const std::wstring& name, const std::string& bytes) {
        ::testing::AssertionResult added = Add(name);
        if (!added) return added;
        KeyHandle key;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileKey(name).c_str(), 0,
                                       KEY_SET_VALUE, key.put());
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExW(key.get(), L"ProfileImagePath", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(bytes.data()),
                                    static_cast<DWORD>(bytes.size()));
        }
        if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << status;
        return ::testing::AssertionSuccess();
    }

    const std::vector<std::wstring>& added() const { return added_; }

private:
    std::vector<std::wstring> added_;
};

// Points BackupRoot at a folder of the test while it lives.
class BackupRootOverride {
public:
    explicit BackupRootOverride(const std::wstring& root) {
        StringCchCopyW(saved_, ARRAYSIZE(saved_), BackupRoot);
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root.c_str());
    }
    ~BackupRootOverride() { StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), saved_); }
    BackupRootOverride(const BackupRootOverride&) = delete;
    BackupRootOverride& operator=(const BackupRootOverride&) = delete;

private:
    wchar_t saved_[LongPathCapacity];
};

// Removes a tree the test made outside its scratch folders.
class TreeRemover {
public:
    explicit TreeRemover(const std::wstring& path) : path_(path) {}
    ~TreeRemover() { RemoveTree(path_); }
    TreeRemover(const TreeRemover&) = delete;
    TreeRemover& operator=(const TreeRemover&) = delete;

private:
    std::wstring path_;
};

std::string RunBackupUserHives(const std::wstring& root) {
    BackupRootOverride override(root);
    StdoutCapture capture;
    BackupUserHives();
    return capture.Bytes();
}

// What the prefix's own profiles print: a hive is saved when its key is
// loaded under HKEY_USERS, copied when its live file exists, else skipped.
struct PrefixProfile {
    std::wstring folder;       // upper-cased key name; empty when skipped
    std::wstring profilePath;  // as the backup sees it
    std::string lines;
};

PrefixProfile ExpectedPrefixProfile(const std::wstring& name) {
    PrefixProfile expected;
    DWORD type = REG_NONE;
    std::wstring path =
        ReadStringValue(HKEY_LOCAL_MACHINE, ProfileKey(name), L"ProfileImagePath", &type);
    std::wstring key = Upper(name);
    if (key == L"S-1-5-18" || path.empty()) return expected;
    expected.folder = key;
    expected.profilePath = Expand(Upper(path));
    if (KeyExists(HKEY_USERS, key) || FileExists(expected.profilePath + L"\\NTUSER.DAT")) {
        expected.lines += SavedLine(key);
    }
    if (KeyExists(HKEY_USERS, key + L"_Classes") ||
        FileExists(expected.profilePath + ClassesTail)) {
        expected.lines += SavedLine(key + L"_Classes");
    }
    return expected;
}

TEST(BackupUserHives, EveryListedProfileInListingOrder) {
    const std::vector<std::wstring> prefixProfiles = ListedProfiles();
    ASSERT_FALSE(prefixProfiles.empty());
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ProfileKey(L"S-1-5-18")));

    ScratchFolder profiles(L"zelprofiles");
    ScratchFolder backup(L"zelbackup");
    const std::wstring windowsProfile = WindowsDir() + L"\\ZelTest";
    ASSERT_FALSE(FolderExists(windowsProfile));
    TreeRemover removeWindowsProfile(windowsProfile);

    // Local System: a hive lies ready, but the profile is never backed up.
    const std::wstring system = profiles / L"System";
    ASSERT_TRUE(CreateDirectoryW(system.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(system + L"\\NTUSER.DAT", HiveBytes("system")));

    // A user who is not logged on: both live files are copied.
    const std::wstring alice = profiles / L"Alice";
    std::wstring aliceClasses = alice;
    for (const wchar_t* part : {L"", L"\\Local Settings", L"\\Application Data", L"\\Microsoft",
                                L"\\Windows"}) {
        aliceClasses += part;
        ASSERT_TRUE(CreateDirectoryW(aliceClasses.c_str(), nullptr)) << Narrow(aliceClasses);
    }
    const std::string aliceUser = HiveBytes("alice-ntuser");
    const std::string aliceClassesBytes = HiveBytes("alice-usrclass");
    ASSERT_TRUE(WriteFileBytes(alice + L"\\NTUSER.DAT", aliceUser));
    ASSERT_TRUE(WriteFileBytes(aliceClasses + L"\\UsrClass.dat", aliceClassesBytes));

    const std::wstring bak = profiles / L"Bak";
    ASSERT_TRUE(CreateDirectoryW(bak.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(bak + L"\\NTUSER.DAT", HiveBytes("bak")));

    // Under the Windows folder, reached through %SystemRoot%; no classes hive.
    ASSERT_TRUE(CreateDirectoryW(windowsProfile.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((windowsProfile + L"\\Profile").c_str(), nullptr));
    const std::string expandedUser = HiveBytes("expanded");
    ASSERT_TRUE(WriteFileBytes(windowsProfile + L"\\Profile\\NTUSER.DAT", expandedUser));

    // Stored without terminator and with one stray byte.
    const std::wstring odd = profiles / L"Odd";
    ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr));
    const std::string oddUser = HiveBytes("odd");
    ASSERT_TRUE(WriteFileBytes(odd + L"\\NTUSER.DAT", oddUser));

    FakeProfiles fake;
    ASSERT_TRUE(fake.AddWithPath(L"s-1-5-18", system));
    ASSERT_TRUE(fake.AddWithPath(L"S-1-5-21-1-2-3-1001", alice));
    ASSERT_TRUE(fake.AddWithPath(L"S-1-5-21-1-2-3-1002.bak", bak));
    ASSERT_TRUE(fake.AddWithPath(L"S-1-5-21-1-2-3-1003", L"%SystemRoot%\\ZelTest\\Profile",
                                 REG_EXPAND_SZ));
    ASSERT_TRUE(fake.AddWithPath(L"S-1-5-21-1-2-3-1004", profiles / L"Gone"));
    ASSERT_TRUE(fake.Add(L"S-1-5-21-1-2-3-1005"));
    ASSERT_EQ(ERROR_SUCCESS, SetDwordValue(HKEY_LOCAL_MACHINE, ProfileKey(L"S-1-5-21-1-2-3-1005"),
                                           L"ProfileImagePath", 0x00430043));
    ASSERT_TRUE(fake.Add(L"S-1-5-21-1-2-3-1006"));
    ASSERT_EQ(ERROR_SUCCESS, SetDwordValue(HKEY_LOCAL_MACHINE, ProfileKey(L"S-1-5-21-1-2-3-1006"),
                                           L"Flags", 0));
    ASSERT_TRUE(fake.AddWithRawPath(L"S-1-5-21-1-2-3-1008", Utf16Bytes(odd) + "X"));

    // Expected results, per listed name.
    std::map<std::wstring, std::string> lines;
    std::vector<std::wstring> folders;
    bool prefixHiveLoaded = false;
    std::map<std::wstring, PrefixProfile> prefix;
    for (const std::wstring& name : prefixProfiles) {
        PrefixProfile expected = ExpectedPrefixProfile(name);
        lines[name] = expected.lines;
        if (!expected.folder.empty()) folders.push_back(expected.folder);
        if (KeyExists(HKEY_USERS, Upper(name))) prefixHiveLoaded = true;
        prefix[name] = expected;
    }
    ASSERT_TRUE(prefixHiveLoaded) << "the prefix's user hive is not under HKEY_USERS";

    const std::wstring systemRoot = Expand(L"%SystemRoot%");
    ASSERT_NE(Upper(systemRoot), systemRoot) << "needs a SystemRoot with lower-case letters";
    const std::wstring aliceLive = Upper(alice);
    const std::wstring expandedLive = systemRoot + L"\\ZELTEST\\PROFILE";
    lines[L"S-1-5-21-1-2-3-1001"] =
        SavedLine(L"S-1-5-21-1-2-3-1001") + SavedLine(L"S-1-5-21-1-2-3-1001_Classes");
    lines[L"S-1-5-21-1-2-3-1002.bak"] = SavedLine(L"S-1-5-21-1-2-3-1002.BAK");
    lines[L"S-1-5-21-1-2-3-1003"] = SavedLine(L"S-1-5-21-1-2-3-1003");
    lines[L"S-1-5-21-1-2-3-1008"] = SavedLine(L"S-1-5-21-1-2-3-1008");
    for (const wchar_t* folder : {L"S-1-5-21-1-2-3-1001", L"S-1-5-21-1-2-3-1002.BAK",
                                  L"S-1-5-21-1-2-3-1003", L"S-1-5-21-1-2-3-1004",
                                  L"S-1-5-21-1-2-3-1008"}) {
        folders.push_back(folder);
    }

    const std::vector<std::wstring> listed = ListedProfiles();
    std::vector<std::wstring> all = prefixProfiles;
    all.insert(all.end(), fake.added().begin(), fake.added().end());
    ASSERT_EQ(Sorted(all), Sorted(listed));
    std::string expectedOutput;
    for (const std::wstring& name : listed) expectedOutput += lines[name];

    const std::string output = RunBackupUserHives(backup.path());

    EXPECT_EQ(expectedOutput, output);
    EXPECT_EQ(Sorted(folders), FolderNames(backup.path()));

    const std::vector<std::wstring> allFour = {L"NTUSER.DAT", L"NTUSER.DAT.txt", L"UsrClass.dat",
                                               L"UsrClass.dat.txt"};
    const std::vector<std::wstring> userOnly = {L"NTUSER.DAT", L"NTUSER.DAT.txt"};

    const std::wstring aliceSaved = backup / L"S-1-5-21-1-2-3-1001";
    EXPECT_EQ(allFour, FolderNames(aliceSaved));
    EXPECT_EQ(aliceUser, ReadFileBytes(aliceSaved + L"\\NTUSER.DAT"));
    EXPECT_EQ(aliceClassesBytes, ReadFileBytes(aliceSaved + L"\\UsrClass.dat"));
    EXPECT_EQ(Utf16Bytes(aliceLive.substr(2) + L"\\NTUSER.DAT"),
              ReadFileBytes(aliceSaved + L"\\NTUSER.DAT.txt"));
    EXPECT_EQ(Utf16Bytes(aliceLive.substr(2) + ClassesTail),
              ReadFileBytes(aliceSaved + L"\\UsrClass.dat.txt"));

    const std::wstring bakSaved = backup / L"S-1-5-21-1-2-3-1002.BAK";
    EXPECT_EQ(userOnly, FolderNames(bakSaved));
    EXPECT_EQ(HiveBytes("bak"), ReadFileBytes(bakSaved + L"\\NTUSER.DAT"));
    EXPECT_EQ(Utf16Bytes(Upper(bak).substr(2) + L"\\NTUSER.DAT"),
              ReadFileBytes(bakSaved + L"\\NTUSER.DAT.txt"));

    const std::wstring expandedSaved = backup / L"S-1-5-21-1-2-3-1003";
    EXPECT_EQ(userOnly, FolderNames(expandedSaved));
    EXPECT_EQ(expandedUser, ReadFileBytes(expandedSaved + L"\\NTUSER.DAT"));
    EXPECT_EQ(Utf16Bytes(expandedLive.substr(2) + L"\\NTUSER.DAT"),
              ReadFileBytes(expandedSaved + L"\\NTUSER.DAT.txt"));

    EXPECT_EQ(std::vector<std::wstring>(), FolderNames(backup / L"S-1-5-21-1-2-3-1004"));

    const std::wstring oddSaved = backup / L"S-1-5-21-1-2-3-1008";
    EXPECT_EQ(userOnly, FolderNames(oddSaved));
    EXPECT_EQ(oddUser, ReadFileBytes(oddSaved + L"\\NTUSER.DAT"));
    EXPECT_EQ(Utf16Bytes(Upper(odd).substr(2) + L"\\NTUSER.DAT"),
              ReadFileBytes(oddSaved + L"\\NTUSER.DAT.txt"));

    // The prefix's own profile: a loaded hive is a saved hive file, with the
    // location of its live file beside it.
    for (const auto& [name, expected] : prefix) {
        if (expected.folder.empty() || !KeyExists(HKEY_USERS, expected.folder)) continue;
        const std::wstring saved = backup / expected.folder;
        bool read = false;
        EXPECT_FALSE(ReadFileBytes(saved + L"\\NTUSER.DAT", &read).empty()) << Narrow(name);
        EXPECT_TRUE(read) << Narrow(name);
        EXPECT_EQ(Utf16Bytes(expected.profilePath.substr(2) + L"\\NTUSER.DAT"),
                  ReadFileBytes(saved + L"\\NTUSER.DAT.txt"))
            << Narrow(name);
    }
}

TEST(BackupUserHives, PathTooLongForItsBufferIsReportedAndTheWalkGoesOn) {
    const std::vector<std::wstring> prefixProfiles = ListedProfiles();
    ScratchFolder profiles(L"zelprofiles");
    ScratchFolder backup(L"zelbackup");
    const std::wstring alice = profiles / L"Alice";
    ASSERT_TRUE(CreateDirectoryW(alice.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(alice + L"\\NTUSER.DAT", HiveBytes("after-long")));

    std::wstring fullBuffer(PathCapacity, L'b');
    fullBuffer.replace(0, 3, L"C:\\");
    std::wstring tooLarge = fullBuffer + L"b";
    std::wstring longPath(300, L'a');
    longPath.replace(0, 3, L"C:\\");

    FakeProfiles fake;
    // 4096 bytes: fills the query buffer exactly, no terminator of its own.
    ASSERT_TRUE(fake.AddWithRawPath(L"S-1-5-21-1-2-3-0997", Utf16Bytes(fullBuffer)));
    // 4098 bytes: more than the query takes; skipped without a word.
    ASSERT_TRUE(fake.AddWithRawPath(L"S-1-5-21-1-2-3-0998", Utf16Bytes(tooLarge)));
    ASSERT_TRUE(fake.AddWithPath(L"S-1-5-21-1-2-3-0999", longPath));
    ASSERT_TRUE(fake.AddWithPath(L"S-1-5-21-1-2-3-1001", alice));

    std::map<std::wstring, std::string> lines;
    std::vector<std::wstring> folders;
    for (const std::wstring& name : prefixProfiles) {
        PrefixProfile expected = ExpectedPrefixProfile(name);
        lines[name] = expected.lines;
        if (!expected.folder.empty()) folders.push_back(expected.folder);
    }
    for (const wchar_t* key : {L"S-1-5-21-1-2-3-0997", L"S-1-5-21-1-2-3-0999"}) {
        lines[key] = FailedLine(key, ERROR_FILENAME_EXCED_RANGE) +
                     FailedLine(std::wstring(key) + L"_Classes", ERROR_FILENAME_EXCED_RANGE);
        folders.push_back(key);
    }
    lines[L"S-1-5-21-1-2-3-1001"] = SavedLine(L"S-1-5-21-1-2-3-1001");
    folders.push_back(L"S-1-5-21-1-2-3-1001");

    const std::vector<std::wstring> listed = ListedProfiles();
    auto position = [&](const std::wstring& name) {
        return std::find(listed.begin(), listed.end(), name) - listed.begin();
    };
    ASSERT_LT(position(L"S-1-5-21-1-2-3-0999"), position(L"S-1-5-21-1-2-3-1001"));
    std::string expectedOutput;
    for (const std::wstring& name : listed) expectedOutput += lines[name];

    const std::string output = RunBackupUserHives(backup.path());

    EXPECT_EQ(expectedOutput, output);
    EXPECT_EQ(Sorted(folders), FolderNames(backup.path()));
    EXPECT_EQ(std::vector<std::wstring>(), FolderNames(backup / L"S-1-5-21-1-2-3-0997"));
    EXPECT_EQ(std::vector<std::wstring>(), FolderNames(backup / L"S-1-5-21-1-2-3-0999"));
    EXPECT_EQ(HiveBytes("after-long"), ReadFileBytes(backup / L"S-1-5-21-1-2-3-1001\\NTUSER.DAT"));
}

TEST(BackupUserHives, SidFolderThatDoesNotFitReportsBothHivesAndMakesNoFolder) {
    ScratchFolder profiles(L"zelprofiles");
    ScratchFolder backup(L"zelbackup");
    const std::wstring alice = profiles / L"Alice";
    ASSERT_TRUE(CreateDirectoryW(alice.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(alice + L"\\NTUSER.DAT", HiveBytes("unreached")));

    // A root of 245 characters: a SID of 19 joined to it passes 259.
    std::wstring root = backup.path() + L"\\";
    root += std::wstring(245 - root.size(), L'r');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + root).c_str(), nullptr));

    FakeProfiles fake;
    ASSERT_TRUE(fake.AddWithPath(L"S-1-5-21-1-2-3-1001", alice));

    std::string expectedOutput;
    for (const std::wstring& name : ListedProfiles()) {
        DWORD type = REG_NONE;
        std::wstring path =
            ReadStringValue(HKEY_LOCAL_MACHINE, ProfileKey(name), L"ProfileImagePath", &type);
        std::wstring key = Upper(name);
        if (key == L"S-1-5-18" || path.empty()) continue;
        ASSERT_GE(key.size(), 19u) << Narrow(key);
        expectedOutput += FailedLine(key, ERROR_FILENAME_EXCED_RANGE) +
                          FailedLine(key + L"_Classes", ERROR_FILENAME_EXCED_RANGE);
    }

    const std::string output = RunBackupUserHives(root);

    EXPECT_EQ(expectedOutput, output);
    EXPECT_EQ(std::vector<std::wstring>(), FolderNames(L"\\\\?\\" + root));
}

}  // namespace
