#include "shared/entry_name.h"

#include <wchar.h>

bool IsSingleName(const wchar_t* name) {
    if (name[0] == L'\0' || wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) return false;
    return wcspbrk(name, L"\\/:") == nullptr;
}
