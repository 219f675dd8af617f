#include "report/run_log.h"

#include <string.h>
#include <strsafe.h>

#include <utility>

#include "shared/console.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"

namespace {

FileHandle Log;
DWORD LogError = ERROR_SUCCESS;
// Lines wait here and go out in few writes: a run logs a few dozen lines.
BYTE Pending[16384];
DWORD PendingBytes = 0;

void Write(const void* bytes, DWORD count) {
    DWORD written = 0;
    if (!WriteFile(Log.get(), bytes, count, &written, nullptr) || written != count) {
        LogError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
        Log.reset();
    }
}

void Flush() {
    if (Log && PendingBytes > 0) Write(Pending, PendingBytes);
    PendingBytes = 0;
}

void Append(const void* bytes, DWORD count) {
    if (!Log) return;
    if (PendingBytes + count > sizeof(Pending)) Flush();
    if (Log && count > sizeof(Pending)) {
        Write(bytes, count);
    } else if (Log) {
        memcpy(Pending + PendingBytes, bytes, count);
        PendingBytes += count;
    }
}

// One line written straight to a log file.
DWORD WriteLine(HANDLE log, const wchar_t* text) {
    size_t length = 0;
    if (FAILED(StringCchLengthW(text, STRSAFE_MAX_CCH, &length))) return ERROR_INVALID_PARAMETER;
    for (const auto& [units, count] :
         {std::pair<const wchar_t*, size_t>{text, length}, {L"\r\n", 2}}) {
        const DWORD bytes = static_cast<DWORD>(count * sizeof(wchar_t));
        DWORD written = 0;
        if (!WriteFile(log, units, bytes, &written, nullptr)) return GetLastError();
        if (written != bytes) return ERROR_HANDLE_EOF;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD OpenRunLog(const wchar_t* path) {
    Log.reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!Log) return GetLastError();
    LogError = ERROR_SUCCESS;
    PendingBytes = 0;
    const WCHAR byteOrderMark = 0xFEFF;
    Append(&byteOrderMark, sizeof(byteOrderMark));
    return LogError;
}

void LogLine(const wchar_t* text) {
    size_t length = 0;
    if (FAILED(StringCchLengthW(text, STRSAFE_MAX_CCH, &length))) return;
    Append(text, static_cast<DWORD>(length * sizeof(wchar_t)));
    Append(L"\r\n", 2 * sizeof(wchar_t));
}

void PrintAndLog(const wchar_t* line) {
    PrintLine(line);
    LogLine(line);
}

void LogTimeLine(const wchar_t* label) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t line[256];
    FormatText(line, ARRAYSIZE(line), L"%s %04d-%02d-%02d %02d:%02d:%02d", label, now.wYear,
               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    LogLine(line);
}

DWORD AppendToBackupLog(const wchar_t* folder, const wchar_t* text) {
    wchar_t path[JoinedPathCapacity];
    if (!BuildPath(path, ARRAYSIZE(path), folder, L"backup.log")) return ERROR_FILENAME_EXCED_RANGE;
    // A finished backup's files are read-only; its log is its own, no link.
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
    SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    FileHandle log(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = log ? WriteLine(log.get(), text) : GetLastError();
    log.reset();
    SetFileAttributesW(path, attributes);
    return error;
}

DWORD CloseRunLog() {
    Flush();
    Log.reset();
    return LogError;
}
