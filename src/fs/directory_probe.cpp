#include "fs/directory_probe.h"

#include <strsafe.h>

#include "shared/owned_handle.h"
#include "shared/path_join.h"

bool IsDirectory(const wchar_t* path, WIN32_FIND_DATAW* entry) {
    wchar_t probe[RootPathCapacity] = L"\\\\?\\";
    // Paths that start with a backslash (\\?\..., UNC, rooted) go unchanged;
    // all others get the long-path prefix.
    HRESULT fitted = path[0] == L'\\' ? StringCchCopyW(probe, ARRAYSIZE(probe), path)
                                      : StringCchCatW(probe, ARRAYSIZE(probe), path);
    if (FAILED(fitted)) return false;

    FindHandle find(FindFirstFileW(probe, entry));
    if (!find) return false;
    return (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
