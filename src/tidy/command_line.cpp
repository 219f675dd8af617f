#include "tidy/command_line.h"

#include <wchar.h>

#include "shared/console.h"
#include "shared/folder_argument.h"
#include "tidy/run_state.h"

namespace {

void PrintUsage() {
    PrintLine(L"Syntax: tidy.exe [/offline:<windows_root>] [/n]");
    PrintLine(L"(no option) - pack the hives of this Windows at the next restart");
    PrintLine(
        L"/offline:<windows_root> - pack the hives of the Windows installed there, which is not "
        L"running");
    PrintLine(L"/n - show what would be done, with the sizes, and change nothing");
}

constexpr wchar_t OfflineOption[] = L"/offline:";
constexpr size_t OfflineOptionLength = ARRAYSIZE(OfflineOption) - 1;

CommandLineOutcome Refuse(DWORD code, const wchar_t* argument) {
    return RefuseArgument(code, argument, PrintUsage);
}

// The config folder under the root, the root made absolute first.
DWORD FindConfigFolder(const wchar_t* root, wchar_t* configFolder) {
    wchar_t absolute[JoinedPathCapacity];
    DWORD error = MakeAbsoluteFolder(root, absolute);
    if (error != ERROR_SUCCESS) return error;
    return BuildPath(configFolder, JoinedPathCapacity, absolute, L"Windows\\System32\\config")
               ? ERROR_SUCCESS
               : ERROR_FILENAME_EXCED_RANGE;
}

}  // namespace

CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, TidyRequest* request) {
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        if (wcscmp(argument, L"/n") == 0) {
            request->dryRun = true;
        } else if (wcscmp(argument, L"/?") == 0) {
            PrintUsage();
            return CommandLineOutcome::Help;
        } else if (wcsncmp(argument, OfflineOption, OfflineOptionLength) == 0) {
            const wchar_t* root = argument + OfflineOptionLength;
            if (root[0] == L'\0') return Refuse(ERROR_INVALID_PARAMETER, argument);
            DWORD error = FindConfigFolder(root, request->configFolder);
            if (error != ERROR_SUCCESS) return Refuse(error, argument);
            request->offline = true;
        } else {
            return Refuse(ERROR_INVALID_PARAMETER, argument);
        }
    }
    return CommandLineOutcome::Run;
}
