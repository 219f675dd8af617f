#include "shared/file_copy.h"

#include "shared/hive_logs.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "shared/platform.h"

namespace {

constexpr DWORD ChunkBytes = 0x20000;

DWORD Chunk(unsigned long long left) {
    return left < ChunkBytes ? static_cast<DWORD>(left) : ChunkBytes;
}

// A read or write that comes short without an error: the source ended
// before the size it had when opened, or the target took less.
DWORD ReadChunk(HANDLE file, BYTE* into, DWORD count) {
    DWORD transferred = 0;
    if (!Platform.readFile(file, into, count, &transferred, nullptr)) return GetLastError();
    return transferred == count ? ERROR_SUCCESS : ERROR_HANDLE_EOF;
}

DWORD WriteChunk(HANDLE file, const BYTE* from, DWORD count) {
    DWORD transferred = 0;
    if (!WriteFile(file, from, count, &transferred, nullptr)) return GetLastError();
    return transferred == count ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

DWORD WriteAll(HANDLE file, const BYTE* bytes, size_t count) {
    for (size_t done = 0; done < count;) {
        const DWORD chunk = Chunk(count - done);
        const DWORD error = WriteChunk(file, bytes + done, chunk);
        if (error != ERROR_SUCCESS) return error;
        done += chunk;
    }
    return ERROR_SUCCESS;
}

// A file that the hold has room for is read whole into it, then written
// out by the writer's thread while the hold's owner looks at it: the same
// reads and writes as any copy, with the owner's work beside the writes
// instead of after them. Without that thread, or for a small file (see
// Platform.besideWriteMinimum), the writing comes first.
DWORD CopyWhole(HANDLE source, HANDLE destination, const CopyHold& hold, BYTE* bytes,
                size_t total) {
    for (size_t done = 0; done < total;) {
        const DWORD chunk = Chunk(total - done);
        const DWORD error = ReadChunk(source, bytes + done, chunk);
        if (error != ERROR_SUCCESS) return error;
        done += chunk;
    }
    const bool beside = hold.writer && total >= Platform.besideWriteMinimum &&
                        hold.writer->Start(destination, bytes, total);
    DWORD error = beside ? ERROR_SUCCESS : WriteAll(destination, bytes, total);
    if (error == ERROR_SUCCESS) hold.whole(hold.context, bytes, total);
    if (beside) error = hold.writer->Finish();
    return error;
}

DWORD CopyContents(HANDLE source, HANDLE destination, const CopyHold& hold) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source, &size)) return GetLastError();
    const unsigned long long total = static_cast<unsigned long long>(size.QuadPart);
    if (BYTE* room = hold.room ? hold.room(hold.context, total) : nullptr) {
        return CopyWhole(source, destination, hold, room, static_cast<size_t>(total));
    }
    BYTE buffer[ChunkBytes];
    for (unsigned long long done = 0; done < total;) {
        const DWORD chunk = Chunk(total - done);
        DWORD error = ReadChunk(source, buffer, chunk);
        if (error == ERROR_SUCCESS) error = WriteChunk(destination, buffer, chunk);
        if (error != ERROR_SUCCESS) return error;
        if (hold.chunk) hold.chunk(hold.context, done, buffer, chunk);
        done += chunk;
    }
    return ERROR_SUCCESS;
}

}  // namespace

CopyWriter::~CopyWriter() {
    if (!thread_) return;
    ending_ = true;
    SetEvent(given_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(given_);
    CloseHandle(done_);
}

DWORD WINAPI CopyWriter::Run(void* self) {
    CopyWriter* writer = static_cast<CopyWriter*>(self);
    while (WaitForSingleObject(writer->given_, INFINITE) == WAIT_OBJECT_0 && !writer->ending_) {
        writer->error_ = WriteAll(writer->file_, writer->bytes_, writer->count_);
        SetEvent(writer->done_);
    }
    return 0;
}

bool CopyWriter::Start(HANDLE file, const BYTE* bytes, size_t count) {
    if (!thread_) {
        if (!given_) given_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!done_) done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (given_ && done_) thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        if (!thread_) return false;
    }
    file_ = file;
    bytes_ = bytes;
    count_ = count;
    error_ = ERROR_SUCCESS;
    return SetEvent(given_) != FALSE;
}

DWORD CopyWriter::Finish() {
    WaitForSingleObject(done_, INFINITE);
    return error_;
}

DWORD CopyFileBytesHolding(const wchar_t* source, const wchar_t* destination,
                           const CopyHold& hold) {
    FileHandle input(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) return GetLastError();

    // A read-only, hidden or system file would refuse to be replaced; a
    // file that is not there has no marks to clear.
    const DWORD oldAttributes = GetFileAttributesW(destination);
    if (oldAttributes != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND)
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
    if (error != ERROR_SUCCESS) DeleteFileW(destination);
    return error;
}

DWORD CopyFileBytes(const wchar_t* source, const wchar_t* destination) {
    return CopyFileBytesHolding(source, destination, CopyHold{});
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
