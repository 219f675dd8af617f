#pragma once
// Every word a program shows goes through here: plain lines, lines from the
// executable's string table, and reports that join a text with the system's
// description of a Win32 error code. Nothing is written once the console
// has been silenced.
#include <windows.h>

// From now on nothing is written: zel's service runs silently with the same
// code that reports every hive on the console.
void SilenceConsole();

// Writes text unchanged (not a format) and one CR LF.
void PrintLine(const wchar_t* text);

// Prints string `id` of the executable's string table as a line.
void PrintResource(UINT id);

// Builds "prefix [system text for code]" into line; "Error # %d" stands in
// when the system has no text for the code. A prefix too long for the line
// is cut so that the system text still fits.
void FormatErrorLine(wchar_t* line, size_t capacity, DWORD code, const wchar_t* prefix);

// Prints the line FormatErrorLine builds, in a 4096-character buffer.
void PrintError(DWORD code, const wchar_t* prefix);

// Wide printf into a buffer of `capacity` characters, always terminated.
void FormatText(wchar_t* destination, size_t capacity, const wchar_t* format, ...);

// Loads string `id` of the running executable's string table into buffer;
// empty when the id is missing. Read with kernel32's resource functions.
void LoadResourceText(UINT id, wchar_t* buffer, size_t capacity);

// Formats string `id` of the table with the arguments into destination.
void FormatResource(wchar_t* destination, size_t capacity, UINT id, ...);
