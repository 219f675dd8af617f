#include "tidy/command_line.h"

#include <wchar.h>

#include "shared/console.h"
#include "tidy/run_state.h"

namespace {

constexpr wchar_t OfflineOption[] = L"/offline:";
constexpr size_t OfflineOptionLength = ARRAYSIZE(OfflineOption) - 1;

CommandLineOutcome Refuse(DWORD code, const wchar_t* argument) {
    PrintError(code, argument[0] != L'\0' ? argument : L"\"\"");
    PrintUsage();
    return CommandLineOutcome::Refused;
}

// The config folder under the root, the root made absolute first. "D:"
// names the root of drive D:, not the current folder there.
DWORD FindConfigFolder(const wchar_t* root, wchar_t* configFolder) {
    const bool bareDrive = root[0] != L'\0' && root[1] == L':' && root[2] == L'\0';
    wchar_t driveRoot[] = L"?:\\";
    driveRoot[0] = root[0];
    wchar_t absolute[JoinedPathCapacity];
    DWORD length = GetFullPathNameW(bareDrive ? driveRoot : root, ARRAYSIZE(absolute), absolute, nullptr);
    if (length == 0) return GetLastError();
    if (length >= ARRAYSIZE(absolute) ||
        !BuildPath(configFolder, JoinedPathCapacity, absolute, L"Windows\\System32\\config")) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

}  // namespace

void PrintUsage() {
    PrintLine(L"Syntax: tidy.exe [/offline:<windows_root>] [/n]");
    PrintLine(L"(no option) - pack the hives of this Windows at the next restart");
    PrintLine(L"/offline:<windows_root> - pack the hives of the Windows installed there, which is not running");
    PrintLine(L"/n - show what would be done, with the sizes, and change nothing");
}

CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, TidyRequest* request) {
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        if (wcscmp(argument, L"/n") == 0) {
            DryRun = true;
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
