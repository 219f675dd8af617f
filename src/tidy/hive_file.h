#pragma once
// What tidy reads of a hive file without loading it.
#include <windows.h>

// The file's size in *size, or the Win32 error. Asks for the attributes
// only, so a hive the system holds open is measured too.
DWORD FileSizeOf(const wchar_t* path, unsigned long long* size);

// The format to save a packed copy of this file in, so that the Windows it
// belongs to can still load it: REG_STANDARD_FORMAT for a regf of version
// 1.3 or 1.4 (Windows 2000's), REG_LATEST_FORMAT for anything else.
DWORD FormatToKeep(const wchar_t* path);
