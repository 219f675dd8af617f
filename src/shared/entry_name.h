#pragma once
#include <windows.h>

#include "shared/owned_handle.h"

// True for a name that a folder listing may give and that can be joined to
// its folder as one more component: not empty, not "." or "..", and without
// "\", "/" or ":". Some file systems (and Wine, for Unix names) list names
// that hold them; joined, such a name would reach outside its folder.
bool IsSingleName(const wchar_t* name);

// True for a listing entry that may be walked into: a folder, not a link
// (which could lead anywhere), whose name is a single name.
bool IsPlainSubfolder(const WIN32_FIND_DATAW& entry);

// Starts a listing of everything in folder, its first entry in *entry. An
// empty handle, with the error in GetLastError(), when the folder cannot be
// listed or the pattern would not fit (ERROR_FILENAME_EXCED_RANGE).
FindHandle StartListing(const wchar_t* folder, WIN32_FIND_DATAW* entry);
