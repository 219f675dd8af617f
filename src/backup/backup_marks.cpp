#include "backup/backup_marks.h"

#include <strsafe.h>
#include <wchar.h>

#include "resource_ids.h"
#include "shared/console.h"
#include "shared/location_text.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"

namespace {

constexpr wchar_t CompleteRecord[] = L"complete.txt";
constexpr wchar_t IncompleteRecord[] = L"incomplete.txt";
// The summary is the log's last line; this much of the end holds it.
constexpr DWORD LogTailCharacters = 256;

// folder + "\" + name; folders under a long root may pass a join's limit.
bool ComposeInside(wchar_t* path, size_t capacity, const wchar_t* folder, const wchar_t* name) {
    return SUCCEEDED(StringCchPrintfW(path, capacity, L"%s\\%s", folder, name));
}

bool HoldsFile(const wchar_t* folder, const wchar_t* name) {
    wchar_t path[RootPathCapacity];
    if (!ComposeInside(path, ARRAYSIZE(path), folder, name)) return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Reads 1 to 9 decimal digits at *text and moves past them.
bool ReadCount(const wchar_t** text, DWORD* count) {
    const wchar_t* digit = *text;
    *count = 0;
    while (*digit >= L'0' && *digit <= L'9' && digit - *text < 9) {
        *count = *count * 10 + static_cast<DWORD>(*digit - L'0');
        ++digit;
    }
    if (digit == *text || (*digit >= L'0' && *digit <= L'9')) return false;
    *text = digit;
    return true;
}

// "N of N hives saved", N a count above zero, and nothing else.
bool SaysEveryHiveSaved(const wchar_t* line) {
    DWORD saved = 0;
    DWORD reported = 0;
    if (!ReadCount(&line, &saved) || wcsncmp(line, L" of ", 4) != 0) return false;
    line += 4;
    if (!ReadCount(&line, &reported) || wcscmp(line, L" hives saved") != 0) return false;
    return saved == reported && reported > 0;
}

// The last line of folder\backup.log, read from the file's end: UTF-16LE
// with CR LF, as every version of the log was written.
bool LogEndsWithEveryHiveSaved(const wchar_t* folder) {
    wchar_t path[RootPathCapacity];
    if (!ComposeInside(path, ARRAYSIZE(path), folder, L"backup.log")) return false;
    FileHandle log(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!log || !GetFileSizeEx(log.get(), &size)) return false;
    const LONGLONG tailBytes = LogTailCharacters * sizeof(wchar_t);
    ULARGE_INTEGER start{};
    start.QuadPart = size.QuadPart > tailBytes ? size.QuadPart - tailBytes : 0;
    start.QuadPart += start.QuadPart % sizeof(wchar_t);  // stay on a character's first byte
    // On a handle opened for plain reads, the record only says where to start.
    OVERLAPPED at{};
    at.Offset = start.LowPart;
    at.OffsetHigh = start.HighPart;
    wchar_t tail[LogTailCharacters + 1];
    DWORD read = 0;
    if (!ReadFile(log.get(), tail, LogTailCharacters * sizeof(wchar_t), &read, &at)) return false;
    size_t length = read / sizeof(wchar_t);
    tail[length] = L'\0';
    while (length > 0 && (tail[length - 1] == L'\r' || tail[length - 1] == L'\n')) {
        tail[--length] = L'\0';
    }
    const wchar_t* lineEnd = wcsrchr(tail, L'\n');
    return SaysEveryHiveSaved(lineEnd ? lineEnd + 1 : tail);
}

// A log larger than this was not written by a run.
constexpr LONGLONG LargestLogBytes = 64LL * 1024 * 1024;

// The whole of folder\backup.log, past its byte-order mark, terminated.
bool ReadLog(const wchar_t* folder, HeapArray<wchar_t>* text) {
    wchar_t path[RootPathCapacity];
    if (!ComposeInside(path, ARRAYSIZE(path), folder, L"backup.log")) return false;
    FileHandle log(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!log || !GetFileSizeEx(log.get(), &size) || size.QuadPart > LargestLogBytes) return false;
    const DWORD bytes = static_cast<DWORD>(size.QuadPart);
    wchar_t* units = text->Extend(bytes / sizeof(wchar_t) + 1);
    DWORD read = 0;
    if (!units || !ReadFile(log.get(), units, bytes, &read, nullptr) || read != bytes) return false;
    if (text->size() > 1 && (*text)[0] == 0xFEFF) (*text)[0] = L'\n';
    return true;
}

}  // namespace

bool HasCompletenessRecord(const wchar_t* folder) {
    return HoldsFile(folder, CompleteRecord) || HoldsFile(folder, IncompleteRecord);
}

bool ReadSavedHives(const wchar_t* folder, HeapArray<wchar_t>* names) {
    wchar_t format[SystemTextCapacity];
    LoadResourceText(IDS_BACKUP_COMPLETED, format, ARRAYSIZE(format));
    const wchar_t* hole = wcsstr(format, L"%s");
    if (!hole) return false;
    const size_t prefixLength = static_cast<size_t>(hole - format);
    const wchar_t* suffix = hole + 2;
    const size_t suffixLength = wcslen(suffix);

    HeapArray<wchar_t> log;
    if (!ReadLog(folder, &log)) return false;
    // Each line on its own, its CR LF replaced by terminators.
    for (wchar_t& unit : log) {
        if (unit == L'\r' || unit == L'\n') unit = L'\0';
    }
    for (size_t at = 0; at < log.size();) {
        const wchar_t* line = log.data() + at;
        const size_t length = wcsnlen(line, log.size() - at);
        at += length + 1;
        if (length <= prefixLength + suffixLength || wcsncmp(line, format, prefixLength) != 0 ||
            wcscmp(line + length - suffixLength, suffix) != 0) {
            continue;
        }
        const size_t nameLength = length - prefixLength - suffixLength;
        if (!names->Append(line + prefixLength, nameLength) || !names->Append(L'\0')) return false;
    }
    return true;
}

bool IsBackupFolder(const wchar_t* folder) { return HoldsFile(folder, L"sysdir.txt"); }

bool IsCompleteBackup(const wchar_t* folder) {
    // Should a folder ever hold both, the doubt goes against it.
    if (HoldsFile(folder, IncompleteRecord)) return false;
    if (HoldsFile(folder, CompleteRecord)) return true;
    return LogEndsWithEveryHiveSaved(folder);
}

DWORD WriteCompletenessRecord(const wchar_t* folder, bool complete, const wchar_t* summary) {
    wchar_t path[JoinedPathCapacity];
    if (!BuildPath(path, ARRAYSIZE(path), folder, complete ? CompleteRecord : IncompleteRecord)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return WriteTextFile(path, summary);
}
