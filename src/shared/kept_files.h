#pragma once
// A hive file that a tool replaces is kept beside it under a stamped name,
// and so are its transaction logs, which would otherwise be replayed onto
// the new file: SYSTEM becomes SYSTEM.revert-20261206-101500, SYSTEM.LOG1
// becomes SYSTEM.LOG1.revert-20261206-101500, and so on. A stamp is only a
// name: clocks move, so the order of runs is never read from it.
#include <windows.h>

constexpr size_t StampCapacity = 16;  // "YYYYMMDD-HHMMSS" and the terminator

// Which of a hive file and its logs there are: bit i stands for
// HiveFileSuffixes[i].
constexpr unsigned AllHiveFiles = 0xF;
unsigned PresentHiveFiles(const wchar_t* path);

// The local date and time as YYYYMMDD-HHMMSS.
void FormatStamp(wchar_t* stamp);

// True for text of exactly that form.
bool IsStamp(const wchar_t* text);

// out = path + suffix + "." + tag + "-" + stamp ("SYSTEM.LOG1.revert-...")
// in a buffer of JoinedPathCapacity; false when that does not fit.
bool KeptName(wchar_t* out, const wchar_t* path, const wchar_t* suffix, const wchar_t* tag,
              const wchar_t* stamp);

// Renames `path` and each of path.LOG1, path.LOG2 and path.LOG that exists
// to its stamped name with `tag` ("revert", "tidy"), the hive file first. A
// file that is not there is passed over. On failure what was already renamed
// is put back. ERROR_SUCCESS or the error of the rename that failed.
DWORD KeepAside(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp);

// Puts back what KeepAside kept under that tag and stamp. `had` tells which
// names held a file before (PresentHiveFiles): a file now at a name that held
// none came with the replacement and is deleted; then every kept file takes
// its name again, replacing what stands there. A name that held a file and
// has no kept copy keeps what it holds: that file was never moved, or is back
// already. So it may run again after a run that was cut short. ERROR_SUCCESS,
// or the first error met (the other files are still put back).
DWORD PutBack(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp, unsigned had);

// True when anything is kept beside path under the tag and stamp.
bool HasKeptFiles(const wchar_t* path, const wchar_t* tag, const wchar_t* stamp);

// A stamp S for which path + "." + tag + "-" + S + ending exists in path's
// folder ("SYSTEM.tidy-S.new" for ending ".new"); false when there is none.
// Only names of the exact form count.
bool FindStampedName(const wchar_t* path, const wchar_t* tag, const wchar_t* ending,
                     wchar_t* stamp);
