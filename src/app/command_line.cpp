#include "app/command_line.h"

#include <limits.h>
#include <strsafe.h>
#include <wchar.h>
#include <wctype.h>

#include "app/process_state.h"
#include "shared/console.h"

int ReadDaysValue(const wchar_t* text) {
    while (*text && iswspace(*text)) ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = *text == L'-';
        ++text;
    }
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*text - L'0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void PrintUsage() {
    PrintLine(L"Syntax: zel.exe[options] backup_path");
    PrintLine(L"/i - install as a service");
    PrintLine(L"/u - uninstall service");
    PrintLine(L"/days:n - delete backup folders older than n days(default: 15)");
}

namespace {

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

// Ends the reading with a report on `argument`, then the usage.
void RefuseArgument(DWORD code, const wchar_t* argument) {
    PrintError(code, argument);
    PrintUsage();
}

}  // namespace

bool ReadCommandLine(int argc, wchar_t** argv, CommandLineRequest* request) {
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        if (argument[0] != L'/') {
            if (FAILED(StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), argument))) {
                // Nothing may run against a cut path: it would name another folder.
                BackupRoot[0] = L'\0';
                RefuseArgument(ERROR_FILENAME_EXCED_RANGE, argument);
                return false;
            }
        } else if (wcscmp(argument, L"/i") == 0) {
            request->install = true;
        } else if (wcscmp(argument, L"/u") == 0) {
            request->uninstall = true;
        } else if (StartsWith(argument, L"/days:")) {
            RetentionDays = ReadDaysValue(argument + 6);
        } else if (wcscmp(argument, L"/service") == 0) {
            ServiceMode = true;
        } else {
            if (wcscmp(argument, L"/?") == 0) {
                PrintUsage();
            } else {
                RefuseArgument(ERROR_INVALID_PARAMETER, argument);
            }
            return false;
        }
    }
    return true;
}
