#pragma once
// A registration file as Registry Editor writes one, which reg import and
// Registry Editor read back: UTF-16LE with a byte-order mark, CR LF line
// ends, the header line and a blank line, then each key as "[full name]",
// its values one a line, and a blank line. Long hex data is folded as
// Registry Editor folds it: after the comma that takes a line past 76
// characters, " \" ends the line and the next begins with two blanks.
#include <windows.h>

constexpr DWORD RegFileBufferUnits = 32768;

struct RegFile {
    HANDLE file;
    DWORD error;   // the first write that failed; nothing is written after it
    DWORD column;  // units on the current line
    DWORD used;
    wchar_t buffer[RegFileBufferUnits];
};

// Creates a new file (never over one that exists) and writes the byte-order
// mark and the header.
DWORD CreateRegFile(RegFile* reg, const wchar_t* path);
// Writes what is buffered and closes; the first error of the file's life.
DWORD CloseRegFile(RegFile* reg);

void PutUnits(RegFile* reg, const wchar_t* units, size_t count);
void PutText(RegFile* reg, const wchar_t* text);
void EndLine(RegFile* reg);
// Units between quotes, with "\" and """ escaped.
void PutEscaped(RegFile* reg, const wchar_t* units, size_t count);
// `@=` for the default value (no name), else `"name"=`.
void PutValueName(RegFile* reg, const wchar_t* name, size_t length);
// "hex:" for REG_BINARY, else "hex(N):" with N in hex.
void PutHexType(RegFile* reg, DWORD type);
// Bytes as "xx," and folded; `last` when the value's final byte is among them.
void PutHexBytes(RegFile* reg, const BYTE* bytes, DWORD count, bool last);
