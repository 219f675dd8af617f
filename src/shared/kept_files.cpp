#include "shared/kept_files.h"

#include <strsafe.h>
#include <wchar.h>

#include "shared/console.h"
#include "shared/hive_logs.h"
#include "shared/name_case.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "shared/platform.h"

unsigned PresentHiveFiles(const wchar_t* path) {
    unsigned present = 0;
    for (size_t i = 0; i < ARRAYSIZE(HiveFileSuffixes); ++i) {
        wchar_t name[JoinedPathCapacity];
        if (AddSuffix(name, path, HiveFileSuffixes[i]) &&
            GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES) {
            present |= 1u << i;
        }
    }
    return present;
}

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
            if (Platform.moveFile(from, to, 0)) continue;
            error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) continue;
        }
        // What cannot all be kept is not kept at all.
        for (size_t back = 0; back < i; ++back) {
            suffix = HiveFileSuffixes[back];
            if (AddSuffix(from, path, suffix) && KeptName(to, path, suffix, tag, stamp)) {
                Platform.moveFile(to, from, 0);
            }
        }
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD PutBack(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp, unsigned had) {
    constexpr size_t Files = ARRAYSIZE(HiveFileSuffixes);
    wchar_t kept[Files][JoinedPathCapacity];
    wchar_t plain[Files][JoinedPathCapacity];
    for (size_t i = 0; i < Files; ++i) {
        if (!AddSuffix(plain[i], path, HiveFileSuffixes[i]) ||
            !KeptName(kept[i], path, HiveFileSuffixes[i], tag, stamp)) {
            return ERROR_FILENAME_EXCED_RANGE;
        }
    }
    DWORD first = ERROR_SUCCESS;
    // First what the replacement brought, so that a run cut short after this
    // never finds one of them looking like a file that was there before.
    for (size_t i = 0; i < Files; ++i) {
        if ((had & (1u << i)) != 0 || GetFileAttributesW(kept[i]) != INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        SetFileAttributesW(plain[i], FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(plain[i]) && GetLastError() != ERROR_FILE_NOT_FOUND &&
            first == ERROR_SUCCESS) {
            first = GetLastError();
        }
    }
    for (size_t i = 0; i < Files; ++i) {
        if (GetFileAttributesW(kept[i]) == INVALID_FILE_ATTRIBUTES) continue;
        SetFileAttributesW(plain[i], FILE_ATTRIBUTE_NORMAL);
        if (!Platform.moveFile(kept[i], plain[i], MOVEFILE_REPLACE_EXISTING) &&
            first == ERROR_SUCCESS) {
            first = GetLastError();
        }
    }
    return first;
}

bool HasKeptFiles(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp) {
    for (const wchar_t* suffix : HiveFileSuffixes) {
        wchar_t kept[JoinedPathCapacity];
        if (KeptName(kept, path, suffix, tag, stamp) &&
            GetFileAttributesW(kept) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
    }
    return false;
}

bool FindStampedName(const wchar_t* path, const wchar_t* tag, const wchar_t* ending,
                     wchar_t* stamp) {
    wchar_t pattern[JoinedPathCapacity];
    if (FAILED(StringCchPrintfW(pattern, ARRAYSIZE(pattern), L"%s.%s-*", path, tag))) return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    wchar_t prefix[JoinedPathCapacity];  // "NAME.tag-"
    if (FAILED(
            StringCchPrintfW(prefix, ARRAYSIZE(prefix), L"%s.%s-", name ? name + 1 : path, tag))) {
        return false;
    }
    const size_t length = wcslen(prefix);
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern, &entry));
    for (bool more = listing.valid(); more; more = FindNextFileW(listing.get(), &entry)) {
        // The pattern may also match short names; only the exact form counts.
        wchar_t candidate[StampCapacity];
        if (!SameName(entry.cFileName, prefix, length) ||
            FAILED(StringCchCopyNW(candidate, ARRAYSIZE(candidate), entry.cFileName + length,
                                   StampCapacity - 1)) ||
            !IsStamp(candidate) ||
            !SameName(entry.cFileName + length + StampCapacity - 1, ending)) {
            continue;
        }
        StringCchCopyW(stamp, StampCapacity, candidate);
        return true;
    }
    return false;
}
