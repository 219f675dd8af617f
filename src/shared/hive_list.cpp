#include "shared/hive_list.h"

#include <strsafe.h>
#include <wchar.h>

#include "shared/name_case.h"
#include "shared/path_join.h"

namespace {

// The data's bytes, terminated in the slot after them; a value of any
// other type than REG_SZ gives an empty path.
void EndDevicePath(wchar_t (&device)[DevicePathCapacity], DWORD type, DWORD bytes, bool* text) {
    device[bytes / sizeof(wchar_t)] = L'\0';  // an odd last byte is dropped
    *text = type == REG_SZ;
    if (!*text) device[0] = L'\0';
}

// Room for the data and, after it, a terminator of our own.
constexpr DWORD DeviceDataBytes = (DevicePathCapacity - 1) * sizeof(wchar_t);
static_assert(DeviceDataBytes == 4096, "the list's data is read 4096 bytes at a time");

}  // namespace

LSTATUS ReadHiveListEntry(HKEY list, DWORD index, wchar_t (&name)[HiveListNameCapacity],
                          wchar_t (&device)[DevicePathCapacity], bool* text) {
    DWORD nameLength = HiveListNameCapacity;
    DWORD bytes = DeviceDataBytes;
    DWORD type = REG_NONE;
    const LSTATUS status = RegEnumValueW(list, index, name, &nameLength, nullptr, &type,
                                         reinterpret_cast<BYTE*>(device), &bytes);
    if (status != ERROR_SUCCESS) return status;
    EndDevicePath(device, type, bytes, text);
    return ERROR_SUCCESS;
}

LSTATUS ReadHiveListFile(HKEY list, const wchar_t* registryPath,
                         wchar_t (&device)[DevicePathCapacity], bool* text) {
    DWORD bytes = DeviceDataBytes;
    DWORD type = REG_NONE;
    const LSTATUS status = RegQueryValueExW(list, registryPath, nullptr, &type,
                                            reinterpret_cast<BYTE*>(device), &bytes);
    if (status != ERROR_SUCCESS) return status;
    EndDevicePath(device, type, bytes, text);
    return ERROR_SUCCESS;
}

DWORD DrivePathOfDevice(const wchar_t* devicePath, wchar_t* file) {
    wchar_t drive[] = L"A:";
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        drive[0] = letter;
        wchar_t device[DevicePathCapacity];
        if (QueryDosDeviceW(drive, device, ARRAYSIZE(device)) == 0) continue;
        const size_t length = wcslen(device);
        if (length == 0 || !SameName(devicePath, device, length) || devicePath[length] != L'\\')
            continue;
        HRESULT built =
            StringCchPrintfW(file, JoinedPathCapacity, L"%s%s", drive, devicePath + length);
        return SUCCEEDED(built) ? ERROR_SUCCESS : ERROR_MORE_DATA;
    }
    return ERROR_PATH_NOT_FOUND;
}

void RewriteVolumeDevicePath(wchar_t* path) {
    static constexpr wchar_t Rest[] = L"VICE\\HARDDISKVOLUME";
    if (path[0] != L'\\' || path[1] != L'D' || path[2] != L'E') return;
    if (wcsncmp(path + 3, Rest, ARRAYSIZE(Rest) - 1) != 0) return;
    // "\DEVICE" (7 characters) becomes "\\?" (3): the text moves 4 to the left.
    size_t length = wcslen(path);
    wmemmove(path + 3, path + 7, length - 7 + 1);
    path[0] = L'\\';
    path[1] = L'\\';
    path[2] = L'?';
}
