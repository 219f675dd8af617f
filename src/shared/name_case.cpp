#include "shared/name_case.h"

wchar_t NameUpper(wchar_t unit) {
    if (unit < 0x80) return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - 32) : unit;
    wchar_t upper = unit;
    // Without linguistic casing: the file system's table, as key lookups use.
    LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, &unit, 1, &upper, 1);
    return upper;
}

bool SameName(const wchar_t* a, const wchar_t* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (a[i] != b[i] && NameUpper(a[i]) != NameUpper(b[i])) return false;
    }
    return true;
}

bool SameName(const wchar_t* a, const wchar_t* b) { return CompareNames(a, b) == 0; }

int CompareNames(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        const wchar_t x = NameUpper(*a);
        const wchar_t y = NameUpper(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == L'\0') return 0;
    }
}
