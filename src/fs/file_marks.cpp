#include "fs/file_marks.h"

#include <winioctl.h>

#include "shared/entry_name.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "shared/system_entry.h"

namespace {

// ntdll's NtSetInformationFile with FileBasicInformation: the one way every
// Windows has to set the attributes of a file through a handle, which still
// reaches the file once one of its names is deleted.
struct BasicInformation {
    LARGE_INTEGER creationTime;  // 0: leave each time as it is
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    ULONG attributes;
};
struct IoStatus {
    union {
        LONG status;
        PVOID pointer;
    };
    ULONG_PTR information;
};
constexpr ULONG FileBasicInformationClass = 4;
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, IoStatus*, PVOID, ULONG, ULONG);

bool SetHandleAttributes(HANDLE file, DWORD attributes) {
    static const auto setInformation =
        LookUp<NtSetInformationFileFn>(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile");
    if (!setInformation) return false;
    BasicInformation information{};
    information.attributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    IoStatus status{};
    return setInformation(file, &status, &information, sizeof(information),
                          FileBasicInformationClass) >= 0;
}

}  // namespace

DWORD CompressFolder(const wchar_t* folder) {
    FileHandle handle(CreateFileW(folder, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return GetLastError();
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    if (!DeviceIoControl(handle.get(), FSCTL_SET_COMPRESSION, &format, sizeof(format), nullptr, 0,
                         &returned, nullptr)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

DWORD MarkFilesReadOnly(const wchar_t* folder) {
    WIN32_FIND_DATAW entry;
    FindHandle listing = StartListing(folder, &entry);
    if (!listing) return GetLastError();
    DWORD first = ERROR_SUCCESS;
    do {
        wchar_t path[JoinedPathCapacity];
        if (!IsSingleName(entry.cFileName) ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !BuildPath(path, ARRAYSIZE(path), folder, entry.cFileName)) {
            continue;
        }
        DWORD error = ERROR_SUCCESS;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            error = MarkFilesReadOnly(path);
        } else if (!SetFileAttributesW(path, entry.dwFileAttributes | FILE_ATTRIBUTE_READONLY)) {
            error = GetLastError();
        }
        if (first == ERROR_SUCCESS) first = error;
    } while (FindNextFileW(listing.get(), &entry));
    return first;
}

BOOL DeleteSharedFile(const wchar_t* path) {
    // Opened before its attributes are cleared, so that the handle can put
    // them back for the other links once this name is gone.
    FileHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = file && GetFileInformationByHandle(file.get(), &information);
    SetFileAttributesW(path, 0);
    const BOOL deleted = DeleteFileW(path);
    const DWORD error = GetLastError();
    // What stays, this name or other links, keeps its marks.
    if (known && (!deleted || information.nNumberOfLinks > 1)) {
        SetHandleAttributes(file.get(), information.dwFileAttributes);
    }
    SetLastError(error);
    return deleted;
}
