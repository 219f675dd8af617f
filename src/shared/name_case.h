#pragma once
// Names compare without regard to case, as Windows compares file, key and
// value names: unit by unit, each upper-cased by the system's table, without
// linguistic rules. Any 16-bit unit may stand in a name. This is the one
// way names are compared in these programs.
#include <windows.h>

#include <stddef.h>

wchar_t NameUpper(wchar_t unit);

// Whether the first `length` units of a and b are the same name.
bool SameName(const wchar_t* a, const wchar_t* b, size_t length);

// Whether the terminated names a and b are the same name.
bool SameName(const wchar_t* a, const wchar_t* b);

// Orders terminated names as that comparison sees them: below, at or above
// zero as a comes before, with or after b.
int CompareNames(const wchar_t* a, const wchar_t* b);
