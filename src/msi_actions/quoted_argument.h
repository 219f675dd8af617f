#pragma once
#include <windows.h>

// Appends `argument` to a command line in a buffer of `capacity` characters,
// after one blank unless the line is empty, between double quotes and
// escaped so that the C runtime's argument splitting hands it back exactly:
// a quote inside becomes \", and the backslashes before a quote (the closing
// one too) are doubled. False, with the line left as it was, when it does not
// fit.
bool AppendArgument(wchar_t* line, size_t capacity, const wchar_t* argument);
