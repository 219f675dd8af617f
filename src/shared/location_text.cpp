#include "shared/location_text.h"

#include <wchar.h>

#include "shared/owned_handle.h"

DWORD WriteTextFile(const wchar_t* fileName, const wchar_t* text) {
    FileHandle file(CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return GetLastError();

    size_t characters = wcslen(text);
    if (characters > MAXDWORD / sizeof(wchar_t)) return ERROR_INVALID_PARAMETER;
    DWORD bytes = static_cast<DWORD>(characters * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(file.get(), text, bytes, &written, nullptr)) return GetLastError();
    return written == bytes ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

DWORD ReadLocationText(const wchar_t* fileName, wchar_t* text, size_t capacity) {
    if (capacity == 0) return ERROR_INSUFFICIENT_BUFFER;
    text[0] = L'\0';
    FileHandle file(CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return GetLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    if (size.QuadPart % sizeof(wchar_t) != 0 ||
        static_cast<unsigned long long>(size.QuadPart) / sizeof(wchar_t) >= capacity) {
        return ERROR_INVALID_DATA;
    }
    DWORD bytes = static_cast<DWORD>(size.QuadPart);
    DWORD read = 0;
    if (!ReadFile(file.get(), text, bytes, &read, nullptr)) return GetLastError();
    if (read != bytes) return ERROR_HANDLE_EOF;
    text[bytes / sizeof(wchar_t)] = L'\0';
    if (wcslen(text) != bytes / sizeof(wchar_t)) {
        text[0] = L'\0';
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

bool IsContainedLocation(const wchar_t* text) {
    if (text[0] != L'\\') return false;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < 0x20 || wcschr(L":/*?\"<>|", *c)) return false;
    }
    // Every component after a backslash must be a plain name.
    for (const wchar_t* component = text + 1;;) {
        const wchar_t* end = wcschr(component, L'\\');
        size_t length = end ? static_cast<size_t>(end - component) : wcslen(component);
        // Win32 drops trailing dots and blanks, so "..." or ". " could
        // become "..": such a component is refused with "." and "..".
        if (length == 0 || component[length - 1] == L'.' || component[length - 1] == L' ') {
            return false;
        }
        if (!end) return true;
        component = end + 1;
    }
}
