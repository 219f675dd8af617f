#include "fs/directory_probe.h"

#include <strsafe.h>

#include "shared/owned_handle.h"

DWORD IsDirectory(const wchar_t* path, WIN32_FIND_DATAW* entry) {
    wchar_t probe[4096] = L"\\\\?\\";
    // Paths that start with a backslash (\\?\..., UNC, rooted) go unchanged;
    // all others get the long-path prefix.
    HRESULT fitted = path[0] == L'\\' ? StringCchCopyW(probe, ARRAYSIZE(probe), path)
                                      : StringCchCatW(probe, ARRAYSIZE(probe), path);
    if (FAILED(fitted)) return 0;

    FindHandle find(FindFirstFileW(probe, entry));
    if (!find) return 0;
    return entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
}
