#pragma once
// A day's backup is whole or absent: it is filled in a work folder whose name
// is not date-shaped ("YYYY-MM-DD.partial") and takes the date name only when
// it is finished (it holds sysdir.txt). One run at a time holds the lock of
// a root. A finished work folder is never made again: a later run gives it
// its name; only an unfinished one, left by a run that died, is deleted.
#include <windows.h>

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

// False when the backup under dated is complete and the new one is not:
// the new one then takes nothing's place.
bool KeepsNewBackup(const wchar_t* dated, bool newComplete);

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

// Renames a folder as MoveFileExW does. A rename that fails with a sharing
// violation or access denied (a scanner holds a file inside) is tried again
// after growing pauses, for up to 30 seconds. ERROR_SUCCESS or the error.
DWORD MoveFolderPatiently(const wchar_t* from, const wchar_t* to);
