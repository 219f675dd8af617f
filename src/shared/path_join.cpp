#include "shared/path_join.h"

#include <strsafe.h>
#include <wchar.h>
#include <wctype.h>

namespace {

bool IsAbsolute(const wchar_t* path) {
    return (path[0] == L'\\' && path[1] == L'\\') || (path[0] != L'\0' && path[1] == L':');
}

// Characters that stay in front of every segment: "X:\", "X:", "\\" or "\".
size_t RootLength(const wchar_t* path) {
    if (path[0] != L'\0' && path[1] == L':') return path[2] == L'\\' ? 3 : 2;
    if (path[0] == L'\\') return path[1] == L'\\' ? 2 : 1;
    return 0;
}

bool IsSegment(const wchar_t* start, size_t length, const wchar_t* name) {
    return wcsncmp(start, name, length) == 0 && name[length] == L'\0';
}

// Drops "." segments and lets ".." take away the segment before it, never
// the root. Works in place: the result is never longer.
void ResolveDotSegments(wchar_t* path) {
    size_t root = RootLength(path);
    wchar_t* out = path + root;
    const wchar_t* in = path + root;
    while (*in) {
        const wchar_t* end = wcschr(in, L'\\');
        size_t length = end ? static_cast<size_t>(end - in) : wcslen(in);
        if (IsSegment(in, length, L".")) {
        } else if (IsSegment(in, length, L"..")) {
            // Back to the start of the previous segment, or to the root.
            if (out > path + root) --out;  // the backslash after that segment
            while (out > path + root && out[-1] != L'\\') --out;
        } else {
            wmemmove(out, in, length);
            out += length;
            if (end) *out++ = L'\\';
        }
        in += length;
        if (*in == L'\\') ++in;
    }
    *out = L'\0';
}

}  // namespace

bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* more) {
    wchar_t joined[JoinedPathCapacity * 2];
    if (IsAbsolute(more)) {
        if (FAILED(StringCchCopyW(joined, ARRAYSIZE(joined), more))) return false;
    } else {
        if (more[0] == L'\\') ++more;
        if (FAILED(StringCchCopyW(joined, ARRAYSIZE(joined), path))) return false;
        size_t length = wcslen(joined);
        if (length > 0 && joined[length - 1] != L'\\' && more[0] != L'\0' &&
            FAILED(StringCchCatW(joined, ARRAYSIZE(joined), L"\\"))) {
            return false;
        }
        if (FAILED(StringCchCatW(joined, ARRAYSIZE(joined), more))) return false;
    }
    ResolveDotSegments(joined);
    if (wcslen(joined) >= JoinedPathCapacity) return false;
    return CopyWhole(path, capacity, joined);
}

bool CopyWhole(wchar_t* destination, size_t capacity, const wchar_t* source) {
    size_t length = 0;
    if (FAILED(StringCchLengthW(source, capacity, &length))) return false;
    return SUCCEEDED(StringCchCopyW(destination, capacity, source));
}

bool BuildPath(wchar_t* path, size_t capacity, const wchar_t* folder, const wchar_t* name) {
    wchar_t joined[JoinedPathCapacity];
    if (FAILED(StringCchCopyW(joined, ARRAYSIZE(joined), folder))) return false;
    if (!JoinPath(joined, ARRAYSIZE(joined), name)) return false;
    return CopyWhole(path, capacity, joined);
}

bool AddSuffix(wchar_t* out, const wchar_t* path, const wchar_t* suffix) {
    return SUCCEEDED(StringCchPrintfW(out, JoinedPathCapacity, L"%s%s", path, suffix));
}

const wchar_t* WithoutDrive(const wchar_t* path) {
    return path[0] != L'\0' && path[1] != L'\0' ? path + 2 : L"";
}

void UpperCaseInPlace(wchar_t* text) {
    for (; *text; ++text) *text = towupper(*text);
}
