#include "backup/raw_copy.h"

#include "shared/owned_handle.h"
#include "backup/redirection_guard.h"

DWORD LastCopyError = 0;

namespace {

constexpr DWORD ChunkBytes = 0x20000;

// A transfer that came short without an error still needs a code that does
// not read as success.
DWORD ShortTransferError(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

bool CopyContents(HANDLE source, HANDLE destination) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source, &size)) {
        LastCopyError = GetLastError();
        return false;
    }
    static_assert(ChunkBytes <= 0x20000, "the transfer buffer lives on the stack");
    BYTE buffer[ChunkBytes];
    unsigned long long remaining = static_cast<unsigned long long>(size.QuadPart);
    while (remaining > 0) {
        DWORD chunk = remaining < ChunkBytes ? static_cast<DWORD>(remaining) : ChunkBytes;
        DWORD transferred = 0;
        if (!ReadFile(source, buffer, chunk, &transferred, nullptr) || transferred != chunk) {
            LastCopyError = ShortTransferError(ERROR_HANDLE_EOF);
            return false;
        }
        if (!WriteFile(destination, buffer, chunk, &transferred, nullptr) || transferred != chunk) {
            LastCopyError = ShortTransferError(ERROR_WRITE_FAULT);
            return false;
        }
        remaining -= chunk;
    }
    LastCopyError = ERROR_SUCCESS;
    return true;
}

}  // namespace

bool CopyFileRaw(const wchar_t* source, const wchar_t* destination) {
    RedirectionGuard guard;

    FileHandle input(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) {
        LastCopyError = GetLastError();
        return false;
    }

    DWORD oldAttributes = GetFileAttributesW(destination);
    SetFileAttributesW(destination, 0);
    FileHandle output(CreateFileW(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!output) {
        LastCopyError = GetLastError();
        // The old file was not replaced, so it keeps its attributes too.
        if (oldAttributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(destination, oldAttributes);
        return false;
    }

    bool copied = CopyContents(input.get(), output.get());
    output.reset();
    input.reset();
    if (!copied) DeleteFileW(destination);  // no truncated hive in a backup
    return copied;
}
