#pragma once
// Key and value names compare without regard to case, as Windows compares
// them: unit by unit, each upper-cased by the system's table, without
// linguistic rules. Any 16-bit unit may stand in a name.
#include <windows.h>

#include <stddef.h>

wchar_t NameUpper(wchar_t unit);

// Whether the first `length` units of a and b are the same name.
bool SameName(const wchar_t* a, const wchar_t* b, size_t length);
