#include "revert/text_buffer.h"

#include <string.h>

bool TextBuffer::Append(const wchar_t* units, size_t count) {
    wchar_t* room = Extend(count);
    if (!room) return false;
    if (count) memcpy(room, units, count * sizeof(wchar_t));
    return true;
}

wchar_t* TextBuffer::Extend(size_t count) {
    const size_t length = Length();
    // The first units bring the terminator with them; the array zero-fills.
    if (count == static_cast<size_t>(-1) || !units_.Extend(units_.empty() ? count + 1 : count)) {
        return nullptr;
    }
    return units_.data() + length;
}

void TextBuffer::Cut(size_t length) {
    if (length >= Length()) return;
    units_.Shorten(length + 1);
    units_[length] = L'\0';
}
