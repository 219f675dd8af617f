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

// Chunks that fit in the hold go through it, the rest through a buffer here.
DWORD CopyContents(HANDLE source, HANDLE destination, CopyHold* hold) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source, &size)) return GetLastError();
    BYTE buffer[ChunkBytes];
    const unsigned long long total = static_cast<unsigned long long>(size.QuadPart);
    for (unsigned long long done = 0; done < total;) {
        const unsigned long long remaining = total - done;
        DWORD chunk = remaining < ChunkBytes ? static_cast<DWORD>(remaining) : ChunkBytes;
        BYTE* through = hold->bytes && done + chunk <= hold->capacity ? hold->bytes + done : buffer;
        DWORD transferred = 0;
        if (!ReadFileEntry(source, through, chunk, &transferred, nullptr) || transferred != chunk) {
            return ShortTransferError(ERROR_HANDLE_EOF);
        }
        if (!WriteFile(destination, through, chunk, &transferred, nullptr) ||
            transferred != chunk) {
            return ShortTransferError(ERROR_WRITE_FAULT);
        }
        if (hold->chunk) hold->chunk(hold->context, done, through, chunk);
        done += chunk;
        if (through != buffer) hold->held = static_cast<size_t>(done);
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD CopyFileBytesHolding(const wchar_t* source, const wchar_t* destination, CopyHold* hold) {
    hold->held = 0;
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

    DWORD error = CopyContents(input.get(), output.get(), hold);
    output.reset();
    if (error != ERROR_SUCCESS) {
        DeleteFileW(destination);
        hold->held = 0;
    }
    return error;
}

DWORD CopyFileBytes(const wchar_t* source, const wchar_t* destination) {
    CopyHold none = {};
    return CopyFileBytesHolding(source, destination, &none);
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
