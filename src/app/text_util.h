#pragma once
#include <windows.h>

// Maps a string to upper case in place under the process locale.
void UpperCaseInPlace(wchar_t* text);

// PathAppendW into a buffer of the given capacity. Refuses (false, buffer
// untouched) when the joined path would not fit the buffer or PathAppendW's
// own limit, so callers can report ERROR_FILENAME_EXCED_RANGE.
bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* more);

// path = folder joined with name, under the same refusal rule as JoinPath.
bool BuildPath(wchar_t* path, size_t capacity, const wchar_t* folder, const wchar_t* name);

// The path from its third character on: a live path without its drive
// letter and colon, as the location text files record it.
const wchar_t* WithoutDrive(const wchar_t* path);
