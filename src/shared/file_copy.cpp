#include "shared/file_copy.h"

#include "shared/hive_logs.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"

ReadFileFn ReadFileEntry = ReadFile;

namespace {

constexpr DWORD ChunkBytes = 0x20000;

// A transfer that came short without an error still needs a code that does
// not read as success.
DWORD ShortTransferError(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

DWORD CopyContents(HANDLE source, HANDLE destination) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source, &size)) return GetLastError();
    BYTE buffer[ChunkBytes];
    unsigned long long remaining = static_cast<unsigned long long>(size.QuadPart);
    while (remaining > 0) {
        DWORD chunk = remaining < ChunkBytes ? static_cast<DWORD>(remaining) : ChunkBytes;
        DWORD transferred = 0;
        if (!ReadFileEntry(source, buffer, chunk, &transferred, nullptr) || transferred != chunk) {
            return ShortTransferError(ERROR_HANDLE_EOF);
        }
        if (!WriteFile(destination, buffer, chunk, &transferred, nullptr) || transferred != chunk) {
            return ShortTransferError(ERROR_WRITE_FAULT);
        }
        remaining -= chunk;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD CopyFileBytes(const wchar_t* source, const wchar_t* destination) {
    FileHandle input(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) return GetLastError();

    DWORD oldAttributes = GetFileAttributesW(destination);
    SetFileAttributesW(destination, 0);
    FileHandle output(CreateFileW(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!output) {
        DWORD error = GetLastError();
        // The old file was not replaced, so it keeps its attributes too.
        if (oldAttributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesW(destination, oldAttributes);
        return error;
    }

    DWORD error = CopyContents(input.get(), output.get());
    output.reset();
    if (error != ERROR_SUCCESS) DeleteFileW(destination);
    return error;
}

DWORD CopyHiveLogs(const wchar_t* source, const wchar_t* destination) {
    for (const wchar_t* suffix : HiveLogSuffixes) {
        wchar_t from[JoinedPathCapacity];
        wchar_t to[JoinedPathCapacity];
        if (!AddSuffix(from, source, suffix) || !AddSuffix(to, destination, suffix)) {
            return ERROR_FILENAME_EXCED_RANGE;
        }
        const DWORD error = CopyFileBytes(from, to);
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return error;
    }
    return ERROR_SUCCESS;
}
