#pragma once
#include <windows.h>

#include <string>

struct ProcessResult {
    bool started = false;
    DWORD exitCode = 0xDEADBEEF;
    std::string output;  // the exact bytes written to standard output
};

// Runs a whole command line (program included) with standard output on a pipe,
// standard input on NUL and standard error inherited. Waits at most timeoutMs.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 600000);

// The zel.exe built beside the test programs.
std::wstring ZelPath();

// Runs zel.exe (or another copy of it) with the given argument text.
ProcessResult RunZel(const std::wstring& arguments);
ProcessResult RunZelAt(const std::wstring& exePath, const std::wstring& arguments);
