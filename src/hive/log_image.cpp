// The recovered image read or written in bounded pieces: the base block from
// memory, the hive bins data from the primary file with the runs laid over.
#include <string.h>

#include "hive/log_files.h"
#include "hive/log_replay.h"
#include "hive/regf_layout.h"
#include "shared/heap_array.h"

namespace {

constexpr DWORD WriteChunkBytes = 1u << 20;

// The first run that ends after offset.
size_t FirstRunAfter(const LogReplay& replay, DWORD offset) {
    size_t low = 0;
    size_t high = replay.runs.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const LogRun& run = replay.runs[middle];
        if (run.offset + run.size <= offset) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

DWORD WriteImage(const LogReplay& replay, HANDLE primary, HANDLE output) {
    HeapArray<BYTE> buffer;
    if (!buffer.Resize(WriteChunkBytes)) return ERROR_NOT_ENOUGH_MEMORY;
    const unsigned long long end =
        regf::BaseBlockBytes + static_cast<unsigned long long>(replay.binsDataSize);
    for (unsigned long long at = 0; at < end;) {
        const DWORD count =
            end - at < WriteChunkBytes ? static_cast<DWORD>(end - at) : WriteChunkBytes;
        DWORD error = ReadRecoveredBytes(replay, primary, at, buffer.data(), count);
        if (error != ERROR_SUCCESS) return error;
        DWORD written = 0;
        if (!WriteFile(output, buffer.data(), count, &written, nullptr)) return GetLastError();
        if (written != count) return ERROR_WRITE_FAULT;
        at += count;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD ReadRecoveredBytes(const LogReplay& replay, HANDLE primary, unsigned long long offset,
                         BYTE* buffer, DWORD count) {
    const unsigned long long end =
        regf::BaseBlockBytes + static_cast<unsigned long long>(replay.binsDataSize);
    if (offset > end || count > end - offset) return ERROR_HANDLE_EOF;
    if (offset < regf::BaseBlockBytes) {
        const DWORD part = regf::BaseBlockBytes - static_cast<DWORD>(offset) < count
                               ? regf::BaseBlockBytes - static_cast<DWORD>(offset)
                               : count;
        memcpy(buffer, replay.baseBlock + offset, part);
        buffer += part;
        offset += part;
        count -= part;
    }
    if (count == 0) return ERROR_SUCCESS;

    // Within the hive bins data: the primary's bytes, zeros past them, runs over both.
    const DWORD from = static_cast<DWORD>(offset - regf::BaseBlockBytes);
    const DWORD to = from + count;
    const DWORD fileEnd = to < replay.primaryBinsBytes ? to : replay.primaryBinsBytes;
    const DWORD zerosFrom = from > fileEnd ? from : fileEnd;
    if (from < fileEnd) {
        const DWORD error = ReadAt(primary, offset, buffer, fileEnd - from);
        if (error != ERROR_SUCCESS) return error;
    }
    memset(buffer + (zerosFrom - from), 0, to - zerosFrom);
    for (size_t i = FirstRunAfter(replay, from);
         i < replay.runs.size() && replay.runs[i].offset < to; ++i) {
        const LogRun& run = replay.runs[i];
        const DWORD start = run.offset > from ? run.offset : from;
        const DWORD stop = run.offset + run.size < to ? run.offset + run.size : to;
        const DWORD error =
            ReadAt(replay.logFiles[run.log].get(), run.fileOffset + (start - run.offset),
                   buffer + (start - from), stop - start);
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

DWORD WriteRecoveredImage(const LogReplay& replay, const wchar_t* primaryPath,
                          const wchar_t* target) {
    FileHandle primary(
        CreateFileW(primaryPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!primary) return GetLastError();
    FileHandle output(
        CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return GetLastError();
    const DWORD error = WriteImage(replay, primary.get(), output.get());
    if (error != ERROR_SUCCESS) {
        output.reset();
        DeleteFileW(target);
    }
    return error;
}
