#pragma once
#include <windows.h>

// Maps a string to upper case in place under the process locale.
void UpperCaseInPlace(wchar_t* text);

// PathAppendW into a buffer of the given capacity. Refuses (false, buffer
// untouched) when the joined path would not fit the buffer or PathAppendW's
// own limit, so callers can report ERROR_FILENAME_EXCED_RANGE.
bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* more);
