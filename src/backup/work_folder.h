#pragma once
// A day's backup is whole or absent: it is filled in a work folder whose name
// is not date-shaped and takes the date name only when it is finished. One
// run at a time holds the lock of a root; whatever work folder it finds was
// left by a run that did not finish.
#include <windows.h>

#include "shared/owned_handle.h"

// Opens root\zel.lock without sharing, for the whole run. An empty handle
// with the error in *error when it cannot; ERROR_SHARING_VIOLATION means
// another run holds it.
FileHandle TakeRunLock(const wchar_t* root, DWORD* error);

// Removes every work folder ("YYYY-MM-DD.partial") that runs left under
// root; links inside are never followed. Silent.
void RemoveLeftWorkFolders(const wchar_t* root);

// A run that ended while it replaced today's folder leaves the older one
// aside: it is put back when nothing took its place, and dropped when the
// new one stands.
void RecoverReplacedFolder(const wchar_t* dated, const wchar_t* aside);

// Gives the finished work folder the date name. A folder of that name that
// exists already is moved aside first and deleted only once the new one
// stands. ERROR_SUCCESS or the error of the rename that failed.
DWORD PutInPlace(const wchar_t* work, const wchar_t* dated, const wchar_t* aside);
