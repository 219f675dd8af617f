#pragma once
#include <windows.h>

#include "shared/hive_check.h"

// Copies source to destination byte for byte with backup semantics, in
// 128 KiB chunks, replacing the destination. When check is given, every
// chunk also goes through it, so a hive is checked in the same pass.
// A failed copy leaves no partial file: a destination it created is deleted,
// and one it could not replace keeps its attributes. Returns ERROR_SUCCESS
// or the Win32 error of the step that failed.
DWORD CopyFileWhole(const wchar_t* source, const wchar_t* destination, HiveCheck* check);

// ReadFile, unless a test puts a stand-in in its place: a read that fails
// midway cannot be made to happen on demand.
using ReadFileFn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern ReadFileFn ReadFileEntry;
