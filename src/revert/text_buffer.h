#pragma once
// Text that grows and shrinks on the heap: a key's full name as a walk goes,
// a value's name read anew for each value, a line being built. Names may
// hold any 16-bit units, NUL among them, so the length counts; the text is
// kept terminated all the same, for printing.
#include <windows.h>

#include "shared/heap_array.h"

class TextBuffer {
 public:
    // The text, terminated: "" while nothing was added.
    const wchar_t* Text() const { return units_.empty() ? L"" : units_.data(); }
    // The units, to fill or change in place; nullptr while nothing was added.
    wchar_t* Data() { return units_.data(); }
    size_t Length() const { return units_.empty() ? 0 : units_.size() - 1; }

    // False when memory runs out; the text is then as it was.
    bool Append(const wchar_t* units, size_t count);
    // `count` more units at the end, zeros for the caller to fill, followed
    // by the terminator; nullptr when memory runs out.
    wchar_t* Extend(size_t count);
    // Keeps the first `length` units.
    void Cut(size_t length);

 private:
    HeapArray<wchar_t> units_;  // the text, then its terminator; empty before anything is added
};
