#pragma once
#include <windows.h>

// The longest path a join gives, as the shell's PathAppendW allows: 259
// characters and the terminator.
constexpr size_t JoinedPathCapacity = MAX_PATH;

// Text the system hands over before a join bounds it: a registry value (a
// profile's folder, the boot store's file), the system folder, a link's
// target, and the lines built around one. Longer than any join, so such text
// is read whole and then refused whole, never cut.
constexpr size_t SystemTextCapacity = 2048;

// zel's root folder (BackupRoot, ModuleDir) and the paths and lines that
// carry one whole.
constexpr size_t RootPathCapacity = 4096;

// Appends `more` to path as the shell's PathAppendW does: one backslash
// between them, a single leading backslash of `more` dropped, an absolute
// `more` (a drive or \\ form) taking the place of path, and "." and ".."
// segments resolved. Refuses (false, path untouched) when the result would
// not fit the buffer or PathAppendW's limit, so callers can report
// ERROR_FILENAME_EXCED_RANGE.
bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* more);

// Copies source whole into destination, or refuses (false) and leaves
// destination as it was; strsafe's own copy would leave a cut text there.
bool CopyWhole(wchar_t* destination, size_t capacity, const wchar_t* source);

// path = folder joined with name, under the same refusal rule as JoinPath.
bool BuildPath(wchar_t* path, size_t capacity, const wchar_t* folder, const wchar_t* name);

// out = path followed by suffix ("SYSTEM" and ".LOG1"), in a buffer of
// JoinedPathCapacity; false when that does not fit.
bool AddSuffix(wchar_t* out, const wchar_t* path, const wchar_t* suffix);

// The path from its third character on: a live path without its drive
// letter and colon, as the location text files record it.
const wchar_t* WithoutDrive(const wchar_t* path);

// Maps a string to upper case in place under the process locale.
void UpperCaseInPlace(wchar_t* text);
