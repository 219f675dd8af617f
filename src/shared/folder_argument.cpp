#include "shared/folder_argument.h"

#include <strsafe.h>
#include <wchar.h>

#include "shared/path_join.h"

namespace {

constexpr size_t WorkCapacity = 4096;

// The prefixes that switch the platform's own clean-up of a path off. True
// when one was dropped.
bool DropNamespacePrefix(wchar_t* path) {
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        wmemmove(path + 2, path + 8, wcslen(path + 8) + 1);
        return true;
    }
    if (wcsncmp(path, L"\\\\?\\", 4) == 0 || wcsncmp(path, L"\\\\.\\", 4) == 0) {
        wmemmove(path, path + 4, wcslen(path + 4) + 1);
        return true;
    }
    return false;
}

// Characters before the first component that may be trimmed: "X:\" or
// "\\server\share\"; 0 when the path is neither form.
size_t RootPrefixLength(const wchar_t* path) {
    if (((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
        path[1] == L':' && path[2] == L'\\') {
        return 3;
    }
    if (path[0] != L'\\' || path[1] != L'\\') return 0;
    const wchar_t* server = path + 2;
    const wchar_t* share = wcschr(server, L'\\');
    if (!share || share == server || share[1] == L'\0' || share[1] == L'\\') return 0;
    const wchar_t* after = wcschr(share + 1, L'\\');
    return after ? static_cast<size_t>(after - path) + 1 : wcslen(path);
}

// Drops trailing blanks and dots from every component after the root, and
// a trailing backslash. False when a component is left empty.
bool TrimComponents(wchar_t* path, size_t rootLength) {
    wchar_t* out = path + rootLength;
    const wchar_t* in = out;
    while (*in) {
        const wchar_t* end = wcschr(in, L'\\');
        size_t length = end ? static_cast<size_t>(end - in) : wcslen(in);
        size_t kept = length;
        while (kept > 0 && (in[kept - 1] == L' ' || in[kept - 1] == L'.')) --kept;
        if (kept == 0 && (end || length > 0)) return false;
        wmemmove(out, in, kept);
        out += kept;
        in += length;
        if (*in == L'\\' && in[1] != L'\0') *out++ = L'\\';
        if (*in == L'\\') ++in;
    }
    *out = L'\0';
    // A share root keeps no trailing backslash; a drive root keeps its own.
    size_t length = wcslen(path);
    if (length > 3 && path[length - 1] == L'\\') path[length - 1] = L'\0';
    return true;
}

}  // namespace

DWORD MakeCanonicalRoot(const wchar_t* given, wchar_t* root, size_t capacity) {
    if (given[0] == L'\0') return ERROR_INVALID_PARAMETER;
    wchar_t work[WorkCapacity];
    if (FAILED(StringCchCopyW(work, ARRAYSIZE(work), given))) return ERROR_FILENAME_EXCED_RANGE;
    for (wchar_t* c = work; *c; ++c) {
        if (*c == L'/') *c = L'\\';
    }
    // What follows such a prefix must be a drive path or a share, not a
    // device or a path relative to anything.
    if (DropNamespacePrefix(work) && RootPrefixLength(work) == 0) return ERROR_INVALID_PARAMETER;

    wchar_t full[WorkCapacity];
    DWORD length = GetFullPathNameW(work, ARRAYSIZE(full), full, nullptr);
    if (length == 0) return ERROR_INVALID_PARAMETER;
    if (length >= ARRAYSIZE(full)) return ERROR_FILENAME_EXCED_RANGE;

    size_t rootLength = RootPrefixLength(full);
    if (rootLength == 0 || !TrimComponents(full, rootLength)) return ERROR_INVALID_PARAMETER;
    for (const wchar_t* c = full; *c; ++c) {
        if (*c < 0x20 || wcschr(L"*?\"<>|", *c) || (*c == L':' && c != full + 1)) {
            return ERROR_INVALID_PARAMETER;
        }
    }
    return CopyWhole(root, capacity, full) ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

DWORD MakeAbsoluteFolder(const wchar_t* given, wchar_t* folder) {
    wchar_t driveRoot[4] = {given[0], L':', L'\\', L'\0'};
    if (given[0] != L'\0' && given[1] == L':' && given[2] == L'\0') given = driveRoot;
    DWORD length = GetFullPathNameW(given, JoinedPathCapacity, folder, nullptr);
    if (length == 0) return GetLastError();
    if (length >= JoinedPathCapacity) return ERROR_FILENAME_EXCED_RANGE;
    if (length > 3 && folder[length - 1] == L'\\') folder[length - 1] = L'\0';
    return ERROR_SUCCESS;
}
