#pragma once
// A day's backup is whole or absent: it is filled in a work folder whose name
// is not date-shaped ("YYYY-MM-DD.partial") and takes the date name only when
// it is finished (it holds sysdir.txt). One run at a time holds the lock of
// a root. A finished work folder is never made again: a later run gives it
// its name; only an unfinished one, left by a run that died, is deleted.
#include <windows.h>

#include "report/run_result.h"
#include "shared/heap_array.h"
#include "shared/owned_handle.h"

// Opens root\zel.lock without sharing, for the whole run. An empty handle
// with the error in *error when it cannot; ERROR_SHARING_VIOLATION means
// another run holds it.
FileHandle TakeRunLock(const wchar_t* root, DWORD* error);

// What stands under a day's name.
enum class DayEntry {
    Free,     // nothing
    Ours,     // a folder, not a link, that is a backup or is empty
    Foreign,  // anything else: never moved, replaced or deleted
};
DayEntry ProbeDayEntry(const wchar_t* dated);

// Whether a new backup that saved and checked the hives named in `saved`
// (each name with its terminator) may take the place of the day's backup
// under dated: only when every hive that one saved and checked is among
// them. `lacking`, of FailedNamesCapacity characters, gets the names of
// those that are not, separated by ", ". A day's backup whose log cannot be
// read (one made before there was a log) gives way.
bool KeepsNewBackup(const wchar_t* dated, const HeapArray<wchar_t>& saved, wchar_t* lacking);

// Gives the finished work folder the date name. A backup of ours under that
// name is moved aside first and deleted only once the new one stands.
// ERROR_ALREADY_EXISTS when the name holds something else, which stays as
// it is; otherwise ERROR_SUCCESS or the error of the rename that failed.
DWORD PlaceBackup(const wchar_t* work, const wchar_t* dated, const wchar_t* aside);

// Ends what runs left under root: a backup moved aside goes back when its
// place is empty and goes when the new one stands; a finished work folder
// is placed under the date it stands for; an unfinished one is deleted.
// Links are never followed. Silent.
void FinishLeftWork(const wchar_t* root);
