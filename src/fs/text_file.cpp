#include "fs/text_file.h"

#include <wchar.h>

#include "shared/owned_handle.h"

bool WriteTextFile(const wchar_t* fileName, const wchar_t* text) {
    FileHandle file(CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;

    size_t characters = wcslen(text);
    if (characters > MAXDWORD / sizeof(wchar_t)) return false;
    DWORD bytes = static_cast<DWORD>(characters * sizeof(wchar_t));
    DWORD written = 0;
    return WriteFile(file.get(), text, bytes, &written, nullptr) && written == bytes;
}
