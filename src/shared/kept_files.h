#pragma once
// A hive file that a tool replaces is kept beside it under a stamped name,
// and so are its transaction logs, which would otherwise be replayed onto
// the new file: SYSTEM becomes SYSTEM.revert-20261206-101500, SYSTEM.LOG1
// becomes SYSTEM.LOG1.revert-20261206-101500, and so on.
#include <windows.h>

constexpr size_t StampCapacity = 16;  // "YYYYMMDD-HHMMSS" and the terminator

// The local date and time as YYYYMMDD-HHMMSS.
void FormatStamp(wchar_t* stamp);

// True for text of exactly that form.
bool IsStamp(const wchar_t* text);

// out = path + suffix + "." + tag + "-" + stamp ("SYSTEM.LOG1.revert-...")
// in a buffer of JoinedPathCapacity; false when that does not fit.
bool KeptName(wchar_t* out, const wchar_t* path, const wchar_t* suffix, const wchar_t* tag,
              const wchar_t* stamp);

// Renames `path` and each of path.LOG1, path.LOG2 and path.LOG that exists
// to its stamped name with `tag` ("revert", "tidy"). A file that is not
// there is passed over. On failure what was already renamed is put back.
// ERROR_SUCCESS or the error of the rename that failed.
DWORD KeepAside(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp);

// Puts back what KeepAside kept under that tag and stamp, replacing what
// stands at those names now. A log that was not kept is removed, since it
// came with the file that replaced the kept one: call it only for a path
// that has something kept under the stamp. ERROR_SUCCESS, or the first error
// met (the other files are still put back).
DWORD PutBack(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp);

// The latest stamp under which `path` was kept with `tag`, from the names in
// its folder; false when there is none. Only names of the exact form count.
bool FindLatestStamp(const wchar_t* path, const wchar_t* tag, wchar_t* stamp);
