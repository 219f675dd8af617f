#pragma once
#include <windows.h>

// True when path names an existing directory. Fills entry with what the
// platform lists for the path.
bool IsDirectory(const wchar_t* path, WIN32_FIND_DATAW* entry);
