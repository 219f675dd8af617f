#include "hive/wine_text_reader.h"

#include <string.h>
#include <wchar.h>

#include <new>

#include "hive/wine_text_tree.h"

namespace {

DWORD ReadWhole(HANDLE file, DWORD size, char* text) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return GetLastError();
    for (DWORD got = 0; got < size;) {
        DWORD read = 0;
        if (!ReadFile(file, text + got, size - got, &read, nullptr)) return GetLastError();
        if (read == 0) return ERROR_HANDLE_EOF;
        got += read;
    }
    return ERROR_SUCCESS;
}

DWORD Parse(Hive* hive) {
    if (hive->fileSize > MaxWineTextBytes) return ERROR_FILE_TOO_LARGE;
    const DWORD size = static_cast<DWORD>(hive->fileSize);
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size + 1));
    if (!text) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD error = ReadWhole(hive->file.get(), size, text);
    if (error == ERROR_SUCCESS) {
        ParseWineText(text, size, hive->text);
        error = hive->text->error;
    }
    HeapFree(GetProcessHeap(), 0, text);
    return error;
}

// The key or value of a handle, once the text is parsed; *error says why not.
const TextKey* KeyOf(Hive* hive, HiveKey key, DWORD* error) {
    *error = WineTextReady(hive);
    if (*error != ERROR_SUCCESS) return nullptr;
    const WineTextTree* tree = hive->text;
    if (key >= 1 && key <= tree->keyCount) return &tree->keys[key - 1];
    *error = ERROR_BADDB;
    return nullptr;
}

const TextValue* ValueOf(Hive* hive, HiveValue value, DWORD* error) {
    *error = WineTextReady(hive);
    if (*error != ERROR_SUCCESS) return nullptr;
    const WineTextTree* tree = hive->text;
    if (value >= 1 && value <= tree->valueCount) return &tree->values[value - 1];
    *error = ERROR_BADDB;
    return nullptr;
}

DWORD CopyName(const wchar_t* units, DWORD length, wchar_t* name, DWORD capacity) {
    if (length >= capacity) return ERROR_MORE_DATA;
    memcpy(name, units, length * sizeof(wchar_t));
    name[length] = L'\0';
    return ERROR_SUCCESS;
}

}  // namespace

DWORD WineTextReady(Hive* hive) {
    if (!hive->text) {
        hive->text = new (std::nothrow) WineTextTree();
        if (!hive->text) return ERROR_NOT_ENOUGH_MEMORY;
        const DWORD error = Parse(hive);
        if (error != ERROR_SUCCESS) hive->text->error = error;
    }
    return hive->text->error;
}

void FreeWineText(Hive* hive) {
    if (!hive->text) return;
    FreeWineTextTree(hive->text);
    delete hive->text;
    hive->text = nullptr;
}

DWORD TextRoot(Hive* hive, HiveKey* root) {
    DWORD error = ERROR_SUCCESS;
    if (KeyOf(hive, 1, &error)) *root = 1;
    return error;
}

DWORD TextKeyInfo(Hive* hive, HiveKey key, HiveKeyInfo* info) {
    DWORD error = ERROR_SUCCESS;
    const TextKey* text = KeyOf(hive, key, &error);
    if (!text) return error;
    info->subkeys = text->children;
    info->values = text->values;
    info->nameLength = text->nameLength;
    info->lastWritten = text->lastWritten;
    return ERROR_SUCCESS;
}

DWORD TextKeyName(Hive* hive, HiveKey key, wchar_t* name, DWORD capacity) {
    DWORD error = ERROR_SUCCESS;
    const TextKey* text = KeyOf(hive, key, &error);
    if (!text) return error;
    return CopyName(hive->text->names + text->name, text->nameLength, name, capacity);
}

// The cursor's entry holds the handle of the next subkey once `leaf` is 1.
DWORD TextNextSubkey(Hive* hive, HiveKey key, HiveSubkeyCursor* cursor, HiveKey* subkey) {
    DWORD error = ERROR_SUCCESS;
    const TextKey* text = KeyOf(hive, key, &error);
    if (!text) return error;
    const DWORD next = cursor->leaf ? cursor->entry : text->firstChild;
    const TextKey* child = KeyOf(hive, next, &error);
    if (!child || child->parent != key - 1) return ERROR_NO_MORE_ITEMS;
    cursor->leaf = 1;
    cursor->entry = child->next;
    *subkey = next;
    return ERROR_SUCCESS;
}

DWORD TextFindSubkey(Hive* hive, HiveKey key, const wchar_t* name, HiveKey* subkey) {
    DWORD error = ERROR_SUCCESS;
    if (!KeyOf(hive, key, &error)) return error;
    const size_t length = wcslen(name);
    const DWORD found =
        length > 0xFFFF ? 0 : FindTextChild(hive->text, key - 1, name, static_cast<DWORD>(length));
    if (!found) return ERROR_FILE_NOT_FOUND;
    *subkey = found;
    return ERROR_SUCCESS;
}

DWORD TextValueAt(Hive* hive, HiveKey key, DWORD index, HiveValue* value) {
    DWORD error = ERROR_SUCCESS;
    const TextKey* text = KeyOf(hive, key, &error);
    if (!text) return error;
    if (index >= text->values) return ERROR_NO_MORE_ITEMS;
    *value = text->firstValue + index + 1;
    return ERROR_SUCCESS;
}

DWORD TextValueInfo(Hive* hive, HiveValue value, HiveValueInfo* info) {
    DWORD error = ERROR_SUCCESS;
    const TextValue* text = ValueOf(hive, value, &error);
    if (!text) return error;
    info->type = text->type;
    info->dataSize = text->size;
    info->nameLength = text->nameLength;
    return ERROR_SUCCESS;
}

DWORD TextValueName(Hive* hive, HiveValue value, wchar_t* name, DWORD capacity) {
    DWORD error = ERROR_SUCCESS;
    const TextValue* text = ValueOf(hive, value, &error);
    if (!text) return error;
    return CopyName(hive->text->names + text->name, text->nameLength, name, capacity);
}

DWORD TextValueData(Hive* hive, HiveValue value, DWORD offset, BYTE* data, DWORD count) {
    DWORD error = ERROR_SUCCESS;
    const TextValue* text = ValueOf(hive, value, &error);
    if (!text) return error;
    if (offset > text->size || count > text->size - offset) return ERROR_INVALID_PARAMETER;
    if (count > 0) memcpy(data, hive->text->data + text->data + offset, count);
    return ERROR_SUCCESS;
}
