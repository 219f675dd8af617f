#pragma once
#include <windows.h>

// FILE_ATTRIBUTE_DIRECTORY when path names an existing directory, 0
// otherwise. Fills entry with what the platform lists for the path.
DWORD IsDirectory(const wchar_t* path, WIN32_FIND_DATAW* entry);
