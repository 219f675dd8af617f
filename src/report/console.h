#pragma once
// Every word the program shows goes through here. Nothing is written while
// ServiceMode is set.
#include <windows.h>

// Writes text unchanged (not a format) and one CR LF.
void PrintLine(const wchar_t* text);

// Prints string `id` of the executable's string table as a line.
void PrintResource(UINT id);

// Prints "prefix [system text for code]". Falls back to "Error # %d" when the
// system has no text for the code. A prefix too long for the line is cut.
void PrintError(DWORD code, const wchar_t* prefix);

// Wide printf into a buffer of `capacity` characters, always terminated.
void FormatText(wchar_t* destination, size_t capacity, const wchar_t* format, ...);

// Loads string `id` into buffer (empty when the id is missing).
void LoadResourceText(UINT id, wchar_t* buffer, size_t capacity);

// Formats string `id` of the table with the arguments into destination.
void FormatResource(wchar_t* destination, size_t capacity, UINT id, ...);

// The hive result lines: string 339 with the name, or string 340 with the
// name as the prefix of a PrintError report for `code`.
void PrintHiveSaved(const wchar_t* hiveName);
void PrintHiveFailed(const wchar_t* hiveName, DWORD code);
