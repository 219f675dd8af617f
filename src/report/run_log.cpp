#include "report/run_log.h"

#include <strsafe.h>

#include "shared/console.h"
#include "shared/owned_handle.h"

namespace {

FileHandle Log;
DWORD LogError = ERROR_SUCCESS;

void Append(const void* bytes, DWORD count) {
    if (!Log) return;
    DWORD written = 0;
    if (!WriteFile(Log.get(), bytes, count, &written, nullptr) || written != count) {
        LogError = written != count && GetLastError() == ERROR_SUCCESS ? ERROR_WRITE_FAULT
                                                                       : GetLastError();
        Log.reset();
    }
}

}  // namespace

DWORD OpenRunLog(const wchar_t* path) {
    Log.reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!Log) return GetLastError();
    LogError = ERROR_SUCCESS;
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

void LogTimeLine(const wchar_t* label) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t line[256];
    FormatText(line, ARRAYSIZE(line), L"%s %04d-%02d-%02d %02d:%02d:%02d", label, now.wYear,
               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    LogLine(line);
}

DWORD CloseRunLog() {
    Log.reset();
    return LogError;
}
