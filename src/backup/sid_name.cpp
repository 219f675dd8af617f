#include "backup/sid_name.h"

#include <wchar.h>

namespace {

constexpr int MaxSubAuthorities = 15;

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool IsHexDigit(wchar_t c) {
    return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// A decimal number below 2^32 at *text; moves past it.
bool ReadPart(const wchar_t** text) {
    ULONGLONG value = 0;
    const wchar_t* digit = *text;
    for (; IsDigit(*digit); ++digit) {
        value = value * 10 + static_cast<ULONGLONG>(*digit - L'0');
        if (value > MAXDWORD) return false;
    }
    if (digit == *text) return false;
    *text = digit;
    return true;
}

// "0x" and the 12 hex digits of a 48-bit authority, as the string form
// writes an authority of 2^32 or more; moves past it.
bool ReadHexAuthority(const wchar_t** text) {
    const wchar_t* at = *text;
    if (at[0] != L'0' || (at[1] != L'x' && at[1] != L'X')) return false;
    at += 2;
    for (int i = 0; i < 12; ++i) {
        if (!IsHexDigit(at[i])) return false;
    }
    *text = at + 12;
    return true;
}

}  // namespace

bool LooksLikeSid(const wchar_t* name) {
    if ((name[0] != L'S' && name[0] != L's') || wcsncmp(name + 1, L"-1-", 3) != 0) return false;
    const wchar_t* at = name + 4;
    if (!ReadHexAuthority(&at) && !ReadPart(&at)) return false;
    for (int parts = 0; parts < MaxSubAuthorities && *at == L'-'; ++parts) {
        ++at;
        if (!ReadPart(&at)) return false;
    }
    return *at == L'\0' || _wcsicmp(at, L".bak") == 0;
}
