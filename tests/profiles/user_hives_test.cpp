#include <gtest/gtest.h>

#include <wctype.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "backup/user_hives.h"
#include "profiles_util.h"
#include "support/registry_fixture.h"

namespace {

const std::wstring ProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring ClassesTail =
    L"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";
using Names = std::vector<std::wstring>;

std::wstring ProfileKey(const std::wstring& name) { return ProfileList + L"\\" + name; }

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = towupper(c);
    return text;
}

// Subkeys of ProfileList in the order the registry lists them.
Names ListedProfiles() {
    Names names;
    KeyHandle list;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileList.c_str(), 0, KEY_READ, list.put());
    wchar_t name[PathCapacity];
    for (DWORD i = 0; list && RegEnumKeyW(list.get(), i, name, PathCapacity) == 0; ++i) {
        names.push_back(name);
    }
    return names;
}

// Entry names of a folder as the file system spells them, sorted.
Names FolderNames(const std::wstring& folder) {
    Names names;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
        if (entry.cFileName[0] != L'.') names.push_back(entry.cFileName);  // skips . and ..
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Writes a file, making its missing folders first.
bool PlaceFile(const std::wstring& path, const std::string& bytes) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    return WriteFileBytes(path, bytes);
}

// ProfileList subkeys made by the test; exactly those are removed again.
struct FakeProfiles {
    Names added;
    ~FakeProfiles() {
        for (const std::wstring& name : added) DeleteKeyTree(HKEY_LOCAL_MACHINE, ProfileKey(name));
    }
    // A REG_DWORD path is 0x00430043, which would read as "CC" if taken for text.
    bool Add(const std::wstring& name, const std::wstring& path, DWORD type = REG_SZ) {
        if (KeyExists(HKEY_LOCAL_MACHINE, ProfileKey(name))) return false;
        added.push_back(name);
        const std::wstring key = ProfileKey(name);
        return (type == REG_DWORD
                    ? SetDwordValue(HKEY_LOCAL_MACHINE, key, L"ProfileImagePath", 0x00430043)
                    : SetStringValue(HKEY_LOCAL_MACHINE, key, L"ProfileImagePath", path, type)) ==
               ERROR_SUCCESS;
    }
};

struct TreeRemover {
    std::wstring path;
    ~TreeRemover() { RemoveTree(path); }
};

struct Hive {
    const wchar_t* file;
    std::string bytes;
    std::wstring live;
};

// The folder holds exactly these hives, each beside a text file with the
// location of its live file without the drive.
void ExpectFolder(const std::wstring& folder, const std::vector<Hive>& hives) {
    Names names;
    for (const Hive& hive : hives) {
        const std::wstring saved = folder + L"\\" + hive.file;
        names.insert(names.end(), {hive.file, std::wstring(hive.file) + L".txt"});
        EXPECT_EQ(hive.bytes, ReadFileBytes(saved)) << Narrow(saved);
        EXPECT_EQ(Utf16Bytes(hive.live.substr(2)), ReadFileBytes(saved + L".txt")) << Narrow(saved);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, FolderNames(folder)) << Narrow(folder);
}

TEST(BackupUserHives, BacksUpEveryListedProfileInListingOrder) {
    ScratchFolder profiles(L"zelprofiles");
    ScratchFolder backup(L"zelbackup");
    ASSERT_FALSE(FolderExists(WindowsDir() + L"\\ZelTest"));
    const TreeRemover windowsProfile{WindowsDir() + L"\\ZelTest"};
    wchar_t systemRoot[PathCapacity] = {};
    ASSERT_NE(0u, GetEnvironmentVariableW(L"SystemRoot", systemRoot, PathCapacity));
    ASSERT_NE(Upper(systemRoot), systemRoot) << "needs a SystemRoot with lower-case letters";

    const std::wstring alice = profiles / L"Alice", bak = profiles / L"Bak";
    // Local System's hive lies ready, but that profile is never backed up.
    ASSERT_TRUE(PlaceFile(profiles / L"System\\NTUSER.DAT", HiveBytes("system")));
    ASSERT_TRUE(PlaceFile(alice + L"\\NTUSER.DAT", HiveBytes("alice")));
    ASSERT_TRUE(PlaceFile(alice + ClassesTail, HiveBytes("alice-classes")));
    ASSERT_TRUE(PlaceFile(bak + L"\\NTUSER.DAT", HiveBytes("bak")));
    ASSERT_TRUE(PlaceFile(windowsProfile.path + L"\\Profile\\NTUSER.DAT", HiveBytes("expanded")));

    const std::wstring sid = L"S-1-5-21-1-2-3-", tooLong = sid + L"0999";
    FakeProfiles fake;
    ASSERT_TRUE(fake.Add(L"s-1-5-18", profiles / L"System"));
    // Within 2048 characters, but past what a path join accepts.
    ASSERT_TRUE(fake.Add(tooLong, L"C:\\" + std::wstring(297, L'a')));
    ASSERT_TRUE(fake.Add(sid + L"1001", alice));
    ASSERT_TRUE(fake.Add(sid + L"1002.bak", bak));
    ASSERT_TRUE(fake.Add(sid + L"1003", L"%SystemRoot%\\ZelTest\\Profile", REG_EXPAND_SZ));
    ASSERT_TRUE(fake.Add(sid + L"1004", profiles / L"Gone"));
    ASSERT_TRUE(fake.Add(sid + L"1005", L"", REG_DWORD));

    std::map<std::wstring, std::string> lines = {
        {tooLong, FailedLine(tooLong, ERROR_FILENAME_EXCED_RANGE) +
                      FailedLine(tooLong + L"_Classes", ERROR_FILENAME_EXCED_RANGE)},
        {sid + L"1001", SavedLine(sid + L"1001") + SavedLine(sid + L"1001_Classes")},
        {sid + L"1002.bak", SavedLine(sid + L"1002.BAK")},
        {sid + L"1003", SavedLine(sid + L"1003")},
    };
    Names folders = {tooLong, sid + L"1001", sid + L"1002.BAK", sid + L"1003", sid + L"1004"};

    // The prefix's own profiles: a hive is saved when its key is loaded under
    // HKEY_USERS, copied when its live file exists, else left out.
    const Names listed = ListedProfiles();
    std::map<std::wstring, std::wstring> loaded;  // folder -> live NTUSER.DAT
    for (const std::wstring& name : listed) {
        const std::wstring key = Upper(name);
        std::wstring path =
            ReadStringValue(HKEY_LOCAL_MACHINE, ProfileKey(name), L"ProfileImagePath");
        if (std::count(fake.added.begin(), fake.added.end(), name) || path.empty()) continue;
        wchar_t live[PathCapacity];
        ExpandEnvironmentStringsW(Upper(path).c_str(), live, PathCapacity);
        const std::wstring user = live + std::wstring(L"\\NTUSER.DAT");
        folders.push_back(key);
        if (KeyExists(HKEY_USERS, key)) loaded[key] = user;
        if (KeyExists(HKEY_USERS, key) || FileExists(user)) lines[name] += SavedLine(key);
        if (KeyExists(HKEY_USERS, key + L"_Classes") || FileExists(live + ClassesTail)) {
            lines[name] += SavedLine(key + L"_Classes");
        }
    }
    ASSERT_FALSE(loaded.empty()) << "the prefix's user hive is not under HKEY_USERS";
    ASSERT_LT(std::find(listed.begin(), listed.end(), tooLong) - listed.begin(),
              std::find(listed.begin(), listed.end(), sid + L"1001") - listed.begin());
    std::string expected;
    for (const std::wstring& name : listed) expected += lines[name];

    wchar_t savedRoot[LongPathCapacity];
    StringCchCopyW(savedRoot, ARRAYSIZE(savedRoot), BackupRoot);
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), backup.path().c_str());
    const std::string output = Printed(BackupUserHives);
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), savedRoot);

    EXPECT_EQ(expected, output);
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, FolderNames(backup.path()));
    ExpectFolder(backup / tooLong, {});
    ExpectFolder(backup / (sid + L"1004"), {});
    ExpectFolder(backup / (sid + L"1001"),
                 {{L"NTUSER.DAT", HiveBytes("alice"), Upper(alice) + L"\\NTUSER.DAT"},
                  {L"UsrClass.dat", HiveBytes("alice-classes"), Upper(alice) + ClassesTail}});
    ExpectFolder(backup / (sid + L"1002.BAK"),
                 {{L"NTUSER.DAT", HiveBytes("bak"), Upper(bak) + L"\\NTUSER.DAT"}});
    ExpectFolder(backup / (sid + L"1003"),
                 {{L"NTUSER.DAT", HiveBytes("expanded"),
                   systemRoot + std::wstring(L"\\ZELTEST\\PROFILE\\NTUSER.DAT")}});

    // A loaded hive is saved from HKEY_USERS, not copied.
    for (const auto& [folder, live] : loaded) {
        EXPECT_NE("", ReadFileBytes(backup / folder + L"\\NTUSER.DAT")) << Narrow(folder);
        EXPECT_EQ(Utf16Bytes(live.substr(2)), ReadFileBytes(backup / folder + L"\\NTUSER.DAT.txt"));
    }
}

}  // namespace
