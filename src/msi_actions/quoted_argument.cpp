#include "msi_actions/quoted_argument.h"

#include <strsafe.h>

namespace {

// The free end of a line being written; `fits` turns false at the first
// piece that does not fit, and everything after it is dropped.
struct LineEnd {
    wchar_t* end;
    size_t remaining;
    bool fits;

    void Put(const wchar_t* text, size_t count) {
        fits =
            fits && SUCCEEDED(StringCchCopyNExW(end, remaining, text, count, &end, &remaining, 0));
    }
    void PutBackslashes(size_t count) {
        for (size_t i = 0; i < count; ++i) Put(L"\\", 1);
    }
};

}  // namespace

bool AppendArgument(wchar_t* line, size_t capacity, const wchar_t* argument) {
    size_t length = 0;
    if (FAILED(StringCchLengthW(line, capacity, &length))) return false;
    LineEnd out{line + length, capacity - length, true};
    if (length > 0) out.Put(L" ", 1);
    out.Put(L"\"", 1);
    size_t backslashes = 0;
    for (const wchar_t* c = argument; *c; ++c) {
        if (*c == L'\\') {
            ++backslashes;
            continue;
        }
        if (*c == L'"') {
            out.PutBackslashes(2 * backslashes + 1);
        } else {
            out.PutBackslashes(backslashes);
        }
        backslashes = 0;
        out.Put(c, 1);
    }
    out.PutBackslashes(2 * backslashes);
    out.Put(L"\"", 1);
    if (!out.fits) line[length] = L'\0';
    return out.fits;
}
