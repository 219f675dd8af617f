#pragma once
// Text read from a hive as a walk goes, on the heap: a key's full name grows
// and shrinks with the walk, a value's name is read anew for each value.
// Names may hold any 16-bit units, NUL among them, so lengths count.
#include <windows.h>

#include "hive/hive.h"

struct HiveText {
    wchar_t* units = nullptr;  // terminated
    size_t length = 0;
    size_t capacity = 0;

    HiveText() = default;
    ~HiveText();
    HiveText(const HiveText&) = delete;
    HiveText& operator=(const HiveText&) = delete;
};

// False when memory runs out; the text is then as it was.
bool AppendText(HiveText* text, const wchar_t* units, size_t count);
void CutText(HiveText* text, size_t length);
// Lengthens the text by `count` units for the caller to fill.
bool ExtendText(HiveText* text, size_t count);

// Appends "\" and the key's name (the name alone when the text is empty).
DWORD AppendKeyName(Hive* hive, HiveKey key, HiveText* text);
// The value's name in place of what the text held; `length` from its info.
DWORD ReadValueName(Hive* hive, HiveValue value, DWORD length, HiveText* text);
