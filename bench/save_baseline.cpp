// save_baseline FOLDER
//
// The least any registry backup must do: enable the backup privilege, then
// open each key a day's backup saves and save it with RegSaveKeyExW into one
// FOLDER. No dated folder, retention, protection, text files or report.
// Prints how many keys it saved; exits 1 when it saved none.
#include <windows.h>

#include <stdio.h>
#include <strsafe.h>

namespace {

struct MachineKey {
    HKEY root;
    const wchar_t* subkey;
    const wchar_t* fileName;
};

const MachineKey MachineKeys[] = {
    {HKEY_LOCAL_MACHINE, L"BCD00000000", L"BCD"},
    {HKEY_LOCAL_MACHINE, L"SYSTEM", L"SYSTEM"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE", L"SOFTWARE"},
    {HKEY_USERS, L".DEFAULT", L"DEFAULT"},
    {HKEY_LOCAL_MACHINE, L"SAM", L"SAM"},
    {HKEY_LOCAL_MACHINE, L"SECURITY", L"SECURITY"},
    {HKEY_LOCAL_MACHINE, L"DRIVERS", L"DRIVERS"},
    {HKEY_LOCAL_MACHINE, L"COMPONENTS", L"COMPONENTS"},
};

constexpr wchar_t ProfileListKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

void EnableBackupPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

bool SaveKey(HKEY root, const wchar_t* subkey, const wchar_t* folder, const wchar_t* fileName) {
    wchar_t target[MAX_PATH];
    if (FAILED(StringCchPrintfW(target, MAX_PATH, L"%s\\%s", folder, fileName))) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const LONG status = RegSaveKeyExW(key, target, nullptr, REG_NO_COMPRESSION);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

int SaveProfileHives(const wchar_t* folder) {
    HKEY list = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileListKey, 0, KEY_READ, &list) != ERROR_SUCCESS) {
        return 0;
    }
    int saved = 0;
    wchar_t sid[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(sid);
        if (RegEnumKeyExW(list, index, sid, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        if (_wcsicmp(sid, L"S-1-5-18") == 0) continue;
        wchar_t classes[256 + 8];
        if (FAILED(StringCchPrintfW(classes, ARRAYSIZE(classes), L"%s_Classes", sid))) continue;
        saved += SaveKey(HKEY_USERS, sid, folder, sid);
        saved += SaveKey(HKEY_USERS, classes, folder, classes);
    }
    RegCloseKey(list);
    return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: save_baseline FOLDER\n");
        return 2;
    }
    EnableBackupPrivilege();
    CreateDirectoryW(argv[1], nullptr);
    int saved = 0;
    for (const MachineKey& key : MachineKeys) {
        saved += SaveKey(key.root, key.subkey, argv[1], key.fileName);
    }
    saved += SaveProfileHives(argv[1]);
    printf("%d\n", saved);
    return saved > 0 ? 0 : 1;
}
