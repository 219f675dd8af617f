#pragma once
#include <windows.h>

#include "shared/path_join.h"

struct TidyRequest {
    bool offline = false;
    // <root>\Windows\System32\config of the installation given by /offline:
    wchar_t configFolder[JoinedPathCapacity] = L"";
};

enum class CommandLineOutcome {
    Run,      // read; DryRun and the request are set
    Help,     // "/?": the usage was printed
    Refused,  // an argument was reported, then the usage
};

// Reads "/offline:<windows_root>", "/n" and "/?" (case-sensitive).
CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, TidyRequest* request);

void PrintUsage();
