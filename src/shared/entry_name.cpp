#include "shared/entry_name.h"

#include <wchar.h>

bool IsSingleName(const wchar_t* name) {
    if (name[0] == L'\0' || wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) return false;
    return wcspbrk(name, L"\\/:") == nullptr;
}

bool IsPlainSubfolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           IsSingleName(entry.cFileName);
}
