#pragma once
#include <windows.h>

#include "shared/exit_status.h"
#include "shared/path_join.h"

struct TidyRequest {
    bool offline = false;
    bool dryRun = false;  // /n
    // <root>\Windows\System32\config of the installation given by /offline:
    wchar_t configFolder[JoinedPathCapacity] = L"";
};

// Reads "/offline:<windows_root>", "/n" and "/?" (case-sensitive).
CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, TidyRequest* request);
