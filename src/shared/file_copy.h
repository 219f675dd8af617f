#pragma once
#include <windows.h>

// Copies source to destination byte for byte with backup semantics, in
// 128 KiB chunks, replacing the destination, through the paths as this
// process sees them (zel's CopyLiveFile turns WOW64 redirection off first). A failed copy leaves no
// partial file: a destination it created is deleted, and one it could not replace keeps its
// attributes. Returns ERROR_SUCCESS or the Win32 error of the step that failed.
DWORD CopyFileBytes(const wchar_t* source, const wchar_t* destination);

// Copies the transaction logs of the hive file `source` (NAME.LOG1,
// NAME.LOG2 and NAME.LOG) beside `destination` with CopyFileBytes. A log that
// is not there is passed over: on a system that keeps its changes in the
// file itself there is none. ERROR_SUCCESS, or the error of the first log
// that is there and could not be copied.
DWORD CopyHiveLogs(const wchar_t* source, const wchar_t* destination);

// ReadFile, unless a test puts a stand-in in its place: a read that fails
// midway cannot be made to happen on demand.
using ReadFileFn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern ReadFileFn ReadFileEntry;
