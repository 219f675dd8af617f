#pragma once
#include <windows.h>

// Runs a console program without a window, its standard output and error on
// one pipe, and waits for it to end. CreateProcessW may write into the line
// it is given, so it is handed over writable. `output` gets what the program
// wrote, read in the ANSI code page as a console program writes to a pipe and
// cut to fit. ERROR_SUCCESS with its exit status, or the error of the step
// that failed.
DWORD RunCaptured(wchar_t* commandLine, wchar_t* output, size_t capacity, DWORD* exitStatus);
