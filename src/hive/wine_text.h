#pragma once
// Wine's registry saves keys in a text form of its own. Such a file is a
// hive only to Wine: a program that runs under Wine may keep and read it,
// while on Windows it is no hive at all.
#include <windows.h>

// Whether the bytes begin with that form's header line.
bool IsWineTextHeader(const BYTE* bytes, size_t count);
