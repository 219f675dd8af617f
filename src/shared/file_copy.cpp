#include "shared/file_copy.h"

#include "shared/hive_logs.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "shared/platform.h"

namespace {

constexpr DWORD ChunkBytes = 0x20000;

// A transfer that came short without an error still needs a code that does
// not read as success.
DWORD ShortTransferError(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// The bytes of a file held whole, written out a chunk at a time.
struct Writer {
    HANDLE destination;
    const BYTE* bytes;
    size_t count;
    DWORD error;
};

DWORD Chunk(size_t left) { return left < ChunkBytes ? static_cast<DWORD>(left) : ChunkBytes; }

DWORD WINAPI WriteHeld(void* context) {
    Writer* writer = static_cast<Writer*>(context);
    for (size_t done = 0; done < writer->count;) {
        const DWORD chunk = Chunk(writer->count - done);
        DWORD transferred = 0;
        if (!WriteFile(writer->destination, writer->bytes + done, chunk, &transferred, nullptr) ||
            transferred != chunk) {
            writer->error = ShortTransferError(ERROR_WRITE_FAULT);
            return 0;
        }
        done += chunk;
    }
    return 0;
}

// One thread, made on first use and kept for the life of the process,
// writes held files out: under Wine a new thread takes milliseconds to
// start. One copy at a time has it; another writes on its own thread.
LONG WriterTaken = 0;
HANDLE WriterThread = nullptr;
HANDLE WorkGiven = nullptr;
HANDLE WorkDone = nullptr;
Writer* Work = nullptr;

DWORD WINAPI WriteWhatIsGiven(void*) {
    while (WaitForSingleObject(WorkGiven, INFINITE) == WAIT_OBJECT_0) {
        WriteHeld(Work);
        SetEvent(WorkDone);
    }
    return 0;
}

bool MakeWriterThread() {
    WorkGiven = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    WorkDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (WorkGiven && WorkDone) {
        WriterThread = CreateThread(nullptr, 0, WriteWhatIsGiven, nullptr, 0, nullptr);
    }
    if (WriterThread) return true;
    if (WorkGiven) CloseHandle(WorkGiven);
    if (WorkDone) CloseHandle(WorkDone);
    WorkGiven = WorkDone = nullptr;
    return false;
}

// Gives `writer` to the kept thread; false when it cannot have it.
bool GiveToWriterThread(Writer* writer) {
    if (InterlockedExchange(&WriterTaken, 1) != 0) return false;
    if (WriterThread || MakeWriterThread()) {
        Work = writer;
        if (SetEvent(WorkGiven)) return true;
    }
    InterlockedExchange(&WriterTaken, 0);
    return false;
}

void WaitForWriterThread() {
    WaitForSingleObject(WorkDone, INFINITE);
    InterlockedExchange(&WriterTaken, 0);
}

// A file that fits in the hold is read whole into it, then written out by
// another thread while the hold's owner looks at it: the same reads and
// writes as any copy, with the owner's work beside the writes instead of
// after them. Without that thread, the writing comes first.
DWORD CopyHeld(HANDLE source, HANDLE destination, CopyHold* hold, size_t total) {
    for (size_t done = 0; done < total;) {
        const DWORD chunk = Chunk(total - done);
        DWORD transferred = 0;
        if (!Platform.readFile(source, hold->bytes + done, chunk, &transferred, nullptr) ||
            transferred != chunk) {
            return ShortTransferError(ERROR_HANDLE_EOF);
        }
        done += chunk;
    }
    Writer writer = {destination, hold->bytes, total, ERROR_SUCCESS};
    const bool beside = GiveToWriterThread(&writer);
    if (!beside) WriteHeld(&writer);
    hold->whole(hold->context, hold->bytes, total);
    if (beside) WaitForWriterThread();
    if (writer.error != ERROR_SUCCESS) return writer.error;
    hold->held = total;
    return ERROR_SUCCESS;
}

// Chunks that fit in the hold go through it, the rest through a buffer here.
DWORD CopyContents(HANDLE source, HANDLE destination, CopyHold* hold) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source, &size)) return GetLastError();
    const unsigned long long total = static_cast<unsigned long long>(size.QuadPart);
    if (hold->bytes && hold->whole && total <= hold->capacity) {
        return CopyHeld(source, destination, hold, static_cast<size_t>(total));
    }
    BYTE buffer[ChunkBytes];
    for (unsigned long long done = 0; done < total;) {
        const unsigned long long remaining = total - done;
        DWORD chunk = remaining < ChunkBytes ? static_cast<DWORD>(remaining) : ChunkBytes;
        BYTE* through = hold->bytes && done + chunk <= hold->capacity ? hold->bytes + done : buffer;
        DWORD transferred = 0;
        if (!Platform.readFile(source, through, chunk, &transferred, nullptr) ||
            transferred != chunk) {
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
