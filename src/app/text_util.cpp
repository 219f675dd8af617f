#include "app/text_util.h"

#include <shlwapi.h>
#include <strsafe.h>
#include <wctype.h>

void UpperCaseInPlace(wchar_t* text) {
    for (; *text; ++text) *text = towupper(*text);
}

bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* more) {
    size_t pathLength = 0;
    size_t moreLength = 0;
    if (FAILED(StringCchLengthW(path, capacity, &pathLength))) return false;
    if (FAILED(StringCchLengthW(more, STRSAFE_MAX_CCH, &moreLength))) return false;
    // PathAppendW works in a MAX_PATH-sized scratch of its own for long paths,
    // so it is only trusted where its result cannot exceed the buffer.
    if (pathLength + 1 + moreLength + 1 > capacity) return false;
    wchar_t joined[4096 + 1];
    if (FAILED(StringCchCopyW(joined, ARRAYSIZE(joined), path))) return false;
    if (!PathAppendW(joined, more)) return false;
    return SUCCEEDED(StringCchCopyW(path, capacity, joined));
}

bool BuildPath(wchar_t* path, size_t capacity, const wchar_t* folder, const wchar_t* name) {
    if (FAILED(StringCchCopyW(path, capacity, folder))) return false;
    return JoinPath(path, capacity, name);
}

const wchar_t* WithoutDrive(const wchar_t* path) {
    return path[0] != L'\0' && path[1] != L'\0' ? path + 2 : L"";
}
