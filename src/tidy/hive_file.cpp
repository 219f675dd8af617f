#include "tidy/hive_file.h"

#include <string.h>

#include "shared/owned_handle.h"

namespace {

constexpr size_t MinorVersionOffset = 24;
constexpr DWORD FirstLatestMinor = 5;  // regf 1.5 came with Windows XP

}  // namespace

DWORD FileSizeOf(const wchar_t* path, unsigned long long* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return GetLastError();
    *size = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return ERROR_SUCCESS;
}

DWORD FormatToKeep(const wchar_t* path) {
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BYTE head[MinorVersionOffset + 4];
    DWORD got = 0;
    if (file && ReadFile(file.get(), head, sizeof(head), &got, nullptr) && got == sizeof(head) &&
        memcmp(head, "regf", 4) == 0) {
        const BYTE* minor = head + MinorVersionOffset;
        DWORD version =
            minor[0] | minor[1] << 8 | minor[2] << 16 | static_cast<DWORD>(minor[3]) << 24;
        if (version < FirstLatestMinor) return REG_STANDARD_FORMAT;
    }
    return REG_LATEST_FORMAT;
}
