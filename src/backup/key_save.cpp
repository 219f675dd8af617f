#include "backup/key_save.h"

#include "shared/owned_handle.h"
#include "shared/platform.h"
#include "shared/system_entry.h"

DWORD LastSaveError = 0;

bool SaveKeyToFile(const wchar_t* target, const wchar_t* subkey, HKEY root) {
    const REGSAM access = MAXIMUM_ALLOWED | NativeKeyView();

    KeyHandle key;
    LastSaveError = RegOpenKeyExW(root, subkey, 0, access, key.put());
    if (LastSaveError != ERROR_SUCCESS) return false;

    // The save functions refuse to overwrite, so the old file goes first.
    SetFileAttributesW(target, 0);
    DeleteFileW(target);
    if (Platform.regSaveKeyEx &&
        Platform.regSaveKeyEx(key.get(), target, nullptr, REG_NO_COMPRESSION) == ERROR_SUCCESS) {
        LastSaveError = ERROR_SUCCESS;
        return true;
    }

    DeleteFileW(target);
    LastSaveError = RegSaveKeyW(key.get(), target, nullptr);
    if (LastSaveError != ERROR_SUCCESS) {
        // A half-written hive must not pass for a good one.
        DeleteFileW(target);
        return false;
    }
    return true;
}
