#include "shared/kept_files.h"

#include <strsafe.h>
#include <wchar.h>

#include "shared/console.h"
#include "shared/hive_logs.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"

void FormatStamp(wchar_t* stamp) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatText(stamp, StampCapacity, L"%04d%02d%02d-%02d%02d%02d", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond);
}

bool KeptName(wchar_t* out, const wchar_t* path, const wchar_t* suffix, const wchar_t* tag,
              const wchar_t* stamp) {
    return SUCCEEDED(
        StringCchPrintfW(out, JoinedPathCapacity, L"%s%s.%s-%s", path, suffix, tag, stamp));
}

bool IsStamp(const wchar_t* text) {
    for (int i = 0; i < 15; ++i) {
        const bool fits = i == 8 ? text[i] == L'-' : text[i] >= L'0' && text[i] <= L'9';
        if (!fits) return false;
    }
    return text[15] == L'\0';
}

DWORD KeepAside(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp) {
    for (size_t i = 0; i < ARRAYSIZE(HiveFileSuffixes); ++i) {
        const wchar_t* suffix = HiveFileSuffixes[i];
        wchar_t from[JoinedPathCapacity];
        wchar_t to[JoinedPathCapacity];
        DWORD error = ERROR_FILENAME_EXCED_RANGE;
        if (AddSuffix(from, path, suffix) && KeptName(to, path, suffix, tag, stamp)) {
            if (MoveFileExW(from, to, 0)) continue;
            error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) continue;
        }
        // What cannot all be kept is not kept at all.
        for (size_t back = 0; back < i; ++back) {
            suffix = HiveFileSuffixes[back];
            if (AddSuffix(from, path, suffix) && KeptName(to, path, suffix, tag, stamp)) {
                MoveFileExW(to, from, 0);
            }
        }
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD PutBack(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp) {
    DWORD first = ERROR_SUCCESS;
    for (const wchar_t* suffix : HiveFileSuffixes) {
        wchar_t kept[JoinedPathCapacity];
        wchar_t plain[JoinedPathCapacity];
        if (!AddSuffix(plain, path, suffix) || !KeptName(kept, path, suffix, tag, stamp)) {
            if (first == ERROR_SUCCESS) first = ERROR_FILENAME_EXCED_RANGE;
            continue;
        }
        if (GetFileAttributesW(kept) == INVALID_FILE_ATTRIBUTES) {
            // A log that was not there before must not be left to replay.
            if (suffix[0] != L'\0') DeleteFileW(plain);
            continue;
        }
        SetFileAttributesW(plain, FILE_ATTRIBUTE_NORMAL);
        if (!MoveFileExW(kept, plain, MOVEFILE_REPLACE_EXISTING) && first == ERROR_SUCCESS) {
            first = GetLastError();
        }
    }
    return first;
}

bool FindLatestStamp(const wchar_t* path, const wchar_t* tag, wchar_t* stamp) {
    wchar_t pattern[JoinedPathCapacity];
    if (FAILED(StringCchPrintfW(pattern, ARRAYSIZE(pattern), L"%s.%s-*", path, tag))) return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    wchar_t prefix[JoinedPathCapacity];  // "NAME.tag-"
    if (FAILED(
            StringCchPrintfW(prefix, ARRAYSIZE(prefix), L"%s.%s-", name ? name + 1 : path, tag))) {
        return false;
    }
    const size_t length = wcslen(prefix);

    bool found = false;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern, &entry));
    for (bool more = listing.valid(); more; more = FindNextFileW(listing.get(), &entry)) {
        // The pattern may also match short names; only the exact form counts.
        if (_wcsnicmp(entry.cFileName, prefix, length) != 0) continue;
        const wchar_t* candidate = entry.cFileName + length;
        if (!IsStamp(candidate) || (found && wcscmp(candidate, stamp) <= 0)) continue;
        StringCchCopyW(stamp, StampCapacity, candidate);
        found = true;
    }
    return found;
}
