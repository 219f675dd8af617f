#include "shared/entry_name.h"

#include <wchar.h>

#include "shared/path_join.h"

bool IsSingleName(const wchar_t* name) {
    if (name[0] == L'\0' || wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) return false;
    return wcspbrk(name, L"\\/:") == nullptr;
}

bool IsPlainSubfolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           IsSingleName(entry.cFileName);
}

FindHandle StartListing(const wchar_t* folder, WIN32_FIND_DATAW* entry) {
    wchar_t pattern[JoinedPathCapacity];
    if (!BuildPath(pattern, ARRAYSIZE(pattern), folder, L"*")) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FindHandle();
    }
    return FindHandle(FindFirstFileW(pattern, entry));
}
