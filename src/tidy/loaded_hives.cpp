#include "tidy/loaded_hives.h"

#include <strsafe.h>
#include <wchar.h>

#include "shared/entry_name.h"
#include "shared/hive_list.h"
#include "shared/kept_files.h"
#include "shared/machine_hives.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "shared/system_entry.h"
#include "tidy/online_road.h"
#include "tidy/packing_report.h"

namespace {

// The file of the hive loaded at registryPath (a value name of the list),
// as a drive path. ERROR_FILE_NOT_FOUND when the list names no file for it
// (not loaded, or held in memory only); ERROR_PATH_NOT_FOUND when its
// device is no drive's.
DWORD LiveFileOf(HKEY hiveList, const wchar_t* registryPath, wchar_t* file) {
    wchar_t devicePath[DevicePathCapacity];
    bool text = false;
    LSTATUS status = ReadHiveListFile(hiveList, registryPath, devicePath, &text);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    if (devicePath[0] == L'\0') return ERROR_FILE_NOT_FOUND;
    return DrivePathOfDevice(devicePath, file);
}

constexpr wchar_t MachinePrefix[] = L"\\REGISTRY\\MACHINE\\";
constexpr wchar_t UserPrefix[] = L"\\REGISTRY\\USER\\";
constexpr size_t UserPrefixLength = ARRAYSIZE(UserPrefix) - 1;

// Packs the hive loaded at root\subkey, when the list names its file.
// Every name given here is shorter than HiveNameCapacity.
void PackListed(TidyRun* run, HKEY hiveList, const wchar_t* name, HKEY root, const wchar_t* subkey,
                const wchar_t* stamp) {
    LiveHive hive;
    hive.root = root;
    StringCchCopyW(hive.name, ARRAYSIZE(hive.name), name);
    StringCchCopyW(hive.subkey, ARRAYSIZE(hive.subkey), subkey);
    wchar_t registryPath[ARRAYSIZE(MachinePrefix) + HiveNameCapacity];
    StringCchPrintfW(registryPath, ARRAYSIZE(registryPath), L"%s%s",
                     root == HKEY_USERS ? UserPrefix : MachinePrefix, subkey);
    DWORD error = LiveFileOf(hiveList, registryPath, hive.file);
    if (error == ERROR_SUCCESS) {
        PackLiveHive(run, hive, stamp);
    } else if (error != ERROR_FILE_NOT_FOUND) {
        ReportFailure(run, name, L"finding its file failed", error);
    }
}

}  // namespace

void PackLoadedHives(TidyRun* run) {
    // A 32-bit process on 64-bit Windows sees HKLM\SOFTWARE through the
    // 32-bit view and would save only a part of the hive.
    if (RunsUnderWow64()) {
        ReportFailure(run, L"tidy.exe",
                      L"the live hives of 64-bit Windows are packed by tidy_x64.exe",
                      ERROR_NOT_SUPPORTED);
        return;
    }
    KeyHandle list;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, HiveListKey, 0, KEY_QUERY_VALUE, list.put());
    if (status != ERROR_SUCCESS) {
        ReportFailure(run, L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\hivelist", L"reading failed",
                      status);
        return;
    }
    wchar_t stamp[StampCapacity];
    FormatStamp(stamp);
    for (const MachineHive& machine : MachineHives) {
        PackListed(run, list.get(), machine.name, machine.root, machine.subkey, stamp);
    }
    for (DWORD index = 0;; ++index) {
        wchar_t registryPath[UserPrefixLength + HiveNameCapacity];
        DWORD length = ARRAYSIZE(registryPath);
        status = RegEnumValueW(list.get(), index, registryPath, &length, nullptr, nullptr, nullptr,
                               nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return;
        if (status != ERROR_SUCCESS) {
            // Only a name too long for a hive is passed over; the list ends
            // on any other error.
            ReportFailure(run, L"hivelist", L"reading an entry failed", status);
            if (status == ERROR_MORE_DATA) continue;
            return;
        }
        // A user hive's key under HKEY_USERS is a SID, or a SID with _Classes.
        const wchar_t* key = registryPath + UserPrefixLength;
        if (_wcsnicmp(registryPath, UserPrefix, UserPrefixLength) == 0 &&
            wcsncmp(key, L"S-", 2) == 0 && IsSingleName(key)) {
            PackListed(run, list.get(), key, HKEY_USERS, key, stamp);
        }
    }
}
