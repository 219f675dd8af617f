#pragma once
#include <windows.h>

// Writes text as UTF-16LE without byte-order mark or terminator, replacing
// the file. True only when every byte was written.
bool WriteTextFile(const wchar_t* fileName, const wchar_t* text);
