#include "revert/hive_text.h"

#include <string.h>

#include "shared/heap_block.h"

HiveText::~HiveText() {
    if (units) HeapFree(GetProcessHeap(), 0, units);
}

namespace {

bool Reserve(HiveText* text, size_t length) {
    if (length < text->capacity) return true;
    size_t capacity = text->capacity < 256 ? 256 : text->capacity;
    while (capacity <= length) capacity *= 2;
    void* grown =
        GrowHeapBlock(text->units, text->capacity * sizeof(wchar_t), capacity * sizeof(wchar_t));
    if (!grown) return false;
    text->units = static_cast<wchar_t*>(grown);
    text->capacity = capacity;
    return true;
}

}  // namespace

bool AppendText(HiveText* text, const wchar_t* units, size_t count) {
    if (!Reserve(text, text->length + count)) return false;
    memcpy(text->units + text->length, units, count * sizeof(wchar_t));
    text->length += count;
    text->units[text->length] = L'\0';
    return true;
}

bool ExtendText(HiveText* text, size_t count) {
    if (!Reserve(text, text->length + count)) return false;
    text->length += count;
    text->units[text->length] = L'\0';
    return true;
}

void CutText(HiveText* text, size_t length) {
    if (length >= text->length) return;
    text->length = length;
    text->units[length] = L'\0';
}

DWORD AppendKeyName(Hive* hive, HiveKey key, HiveText* text) {
    HiveKeyInfo info;
    DWORD error = HiveKeyInfoOf(hive, key, &info);
    if (error != ERROR_SUCCESS) return error;
    const size_t start = text->length;
    if ((start > 0 && !AppendText(text, L"\\", 1)) ||
        !Reserve(text, text->length + info.nameLength)) {
        CutText(text, start);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    error = HiveKeyName(hive, key, text->units + text->length, info.nameLength + 1);
    if (error != ERROR_SUCCESS) {
        CutText(text, start);
        return error;
    }
    text->length += info.nameLength;
    return ERROR_SUCCESS;
}

DWORD ReadValueName(Hive* hive, HiveValue value, DWORD length, HiveText* text) {
    CutText(text, 0);
    if (!Reserve(text, length)) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD error = HiveValueName(hive, value, text->units, length + 1);
    text->length = error == ERROR_SUCCESS ? length : 0;
    text->units[text->length] = L'\0';
    return error;
}
