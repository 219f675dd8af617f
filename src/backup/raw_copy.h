#pragma once
#include <windows.h>

// Status of the last CopyFileRaw; 0 after success.
extern DWORD LastCopyError;

// Copies source to destination byte for byte with backup semantics, in
// 128 KiB chunks. Prints nothing.
bool CopyFileRaw(const wchar_t* source, const wchar_t* destination);
