#include "hive/log_files.h"

#include <string.h>
#include <strsafe.h>
#include <wchar.h>

#include "hive/regf_layout.h"
#include "shared/heap_array.h"

namespace {

LogKind KindOfBaseBlock(const LogFile& log, DWORD* sectorBytes, bool knownTime,
                        unsigned long long lastWritten) {
    const BYTE* base = log.head;
    if (log.size < regf::LogSectorBytes || memcmp(base, "regf", 4) != 0 ||
        !regf::BaseBlockChecksumRight(base) || regf::SequencesDiffer(base)) {
        return LogKind::Damaged;
    }
    const DWORD binsSize = regf::ReadDword(base + regf::BinsDataSizeOffset);
    if (binsSize == 0 || binsSize % regf::BinAlignment != 0) return LogKind::Damaged;
    const DWORD type = regf::ReadDword(base + regf::FileTypeOffset);
    LogKind kind = LogKind::New;
    *sectorBytes = regf::LogSectorBytes;
    if (type == regf::FileTypeLog || type == regf::FileTypeLogWindows2000) {
        const DWORD factor = regf::ReadDword(base + regf::ClusteringFactorOffset);
        if (factor == 0 || factor > regf::MaxClusteringFactor) return LogKind::Damaged;
        *sectorBytes = factor * regf::LogSectorBytes;
        if (log.size < *sectorBytes) return LogKind::Damaged;
        kind = LogKind::Old;
    } else if (type != regf::FileTypeLogNew) {
        return LogKind::Damaged;
    }
    // An old-format log written after the primary still holds what the
    // primary lacks; the first bin's copy of the time, which stands in for a
    // damaged base block's, lags behind the base block's own.
    const unsigned long long written = LogWritten(log);
    const bool matches = kind == LogKind::Old ? written >= lastWritten : written == lastWritten;
    return knownTime && matches ? kind : LogKind::Foreign;
}

// Reads on from the file pointer, where the last read through the handle
// ended.
DWORD ReadOn(HANDLE file, void* buffer, DWORD count) {
    DWORD done = 0;
    if (!ReadFile(file, buffer, count, &done, nullptr)) return GetLastError();
    return done == count ? ERROR_SUCCESS : ERROR_HANDLE_EOF;
}

DWORD Fill(LogWindow* window, const LogFile& log, unsigned long long offset) {
    const DWORD ahead =
        log.size - offset < WindowBytes ? static_cast<DWORD>(log.size - offset) : WindowBytes;
    // A read that goes on where the window's last one ended needs no offset,
    // which costs a great deal more under Wine.
    const bool onward = window->log == &log && offset == window->start + window->count;
    window->log = nullptr;
    const DWORD error = onward ? ReadOn(log.file.get(), window->bytes, ahead)
                               : ReadAt(log.file.get(), offset, window->bytes, ahead);
    if (error != ERROR_SUCCESS) return error;
    window->log = &log;
    window->start = offset;
    window->count = ahead;
    return ERROR_SUCCESS;
}

bool Holds(const LogWindow& window, const LogFile& log, unsigned long long offset) {
    return window.log == &log && offset >= window.start && offset < window.start + window.count;
}

}  // namespace

DWORD ReadAt(HANDLE file, unsigned long long offset, void* buffer, DWORD count) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (!ReadFile(file, buffer, count, &done, &at)) {
        const DWORD error = GetLastError();
        return error == ERROR_SUCCESS ? ERROR_HANDLE_EOF : error;
    }
    return done == count ? ERROR_SUCCESS : ERROR_HANDLE_EOF;
}

DWORD LogBytes(LogWindow* window, const LogFile& log, unsigned long long offset, DWORD count,
               const BYTE** bytes) {
    if (count > WindowBytes || offset > log.size || count > log.size - offset) {
        return ERROR_HANDLE_EOF;
    }
    if (!Holds(*window, log, offset) || offset + count > window->start + window->count) {
        const DWORD error = Fill(window, log, offset);
        if (error != ERROR_SUCCESS) return error;
    }
    *bytes = window->bytes + (offset - window->start);
    return ERROR_SUCCESS;
}

DWORD LogBytesAhead(LogWindow* window, const LogFile& log, unsigned long long offset, DWORD most,
                    const BYTE** bytes, DWORD* count) {
    if (offset >= log.size) return ERROR_HANDLE_EOF;
    if (!Holds(*window, log, offset)) {
        const DWORD error = Fill(window, log, offset);
        if (error != ERROR_SUCCESS) return error;
    }
    const unsigned long long held = window->start + window->count - offset;
    *count = held < most ? static_cast<DWORD>(held) : most;
    *bytes = window->bytes + (offset - window->start);
    return ERROR_SUCCESS;
}

DWORD OpenLogFile(const wchar_t* primaryPath, const wchar_t* suffix, bool knownTime,
                  unsigned long long lastWritten, LogFile* log) {
    log->suffix = suffix;
    log->kind = LogKind::Absent;
    log->size = 0;
    log->sectorBytes = regf::LogSectorBytes;
    memset(log->head, 0, sizeof(log->head));

    HeapArray<wchar_t> path;
    const size_t count = wcslen(primaryPath) + wcslen(suffix) + 1;
    if (!path.Resize(count)) return ERROR_NOT_ENOUGH_MEMORY;
    if (FAILED(StringCchCopyW(path.data(), count, primaryPath)) ||
        FAILED(StringCchCatW(path.data(), count, suffix))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    log->file.reset(CreateFileW(path.data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!log->file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS
                                                                              : error;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(log->file.get(), &size)) return GetLastError();
    log->size = static_cast<unsigned long long>(size.QuadPart);
    if (log->size == 0) return ERROR_SUCCESS;
    const DWORD headBytes = log->size < sizeof(log->head) ? static_cast<DWORD>(log->size)
                                                          : static_cast<DWORD>(sizeof(log->head));
    const DWORD error = ReadAt(log->file.get(), 0, log->head, headBytes);
    if (error != ERROR_SUCCESS) return error;
    log->kind = KindOfBaseBlock(*log, &log->sectorBytes, knownTime, lastWritten);
    return ERROR_SUCCESS;
}

DWORD LogSequence(const LogFile& log) {
    return regf::ReadDword(log.head + regf::PrimarySequenceOffset);
}

unsigned long long LogWritten(const LogFile& log) {
    return regf::ReadQword(log.head + regf::LastWrittenOffset);
}
