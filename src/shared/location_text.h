#pragma once
// The location texts beside the hives in a backup (bcd.txt, sysdir.txt,
// NTUSER.DAT.txt, UsrClass.dat.txt): a live path without its drive, as
// UTF-16LE code units with no byte-order mark, terminator or line end.
#include <windows.h>

// Writes text in that form, replacing the file. ERROR_SUCCESS only when
// every byte was written; else the Win32 error.
DWORD WriteTextFile(const wchar_t* fileName, const wchar_t* text);

// Reads such a file into text (capacity characters, terminator included).
// Refuses, with ERROR_INVALID_DATA, a file too long for the buffer, of an
// odd byte count or holding a NUL.
DWORD ReadLocationText(const wchar_t* fileName, wchar_t* text, size_t capacity);

// True for a location text that can only name a place inside whatever root
// it is put under: a plain absolute path without a drive ("\x\y"), with no
// component that ends in a dot or a blank (so no "." or ".."), no empty
// component (so no \\?\, \\.\ or share forms), no ":", no "/", no
// wildcard and no control character.
bool IsContainedLocation(const wchar_t* text);
