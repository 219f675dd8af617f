#include "app/command_line.h"

#include <limits.h>
#include <strsafe.h>
#include <wchar.h>

#include "shared/console.h"
#include "shared/folder_argument.h"
#include "state/run_state.h"

bool ReadDaysValue(const wchar_t* text, int* days) {
    bool negative = *text == L'-';
    if (*text == L'+' || *text == L'-') ++text;
    if (*text < L'0' || *text > L'9') return false;
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*text - L'0');
    }
    if (*text != L'\0') return false;
    if (negative) value = -value;
    *days = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
    return true;
}

namespace {

void PrintUsage() {
    PrintLine(L"Syntax: zel.exe[options] backup_path");
    PrintLine(L"/i - install as a service");
    PrintLine(L"/u - uninstall service");
    PrintLine(L"/days:n - delete backup folders older than n days(default: 15)");
    PrintLine(L"/daily[:HH:MM] - the service stays and makes each day's backup (only with /i)");
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

CommandLineOutcome Refuse(DWORD code, const wchar_t* argument) {
    return RefuseArgument(code, argument, PrintUsage);
}

}  // namespace

CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, CommandLineRequest* request) {
    const wchar_t* path = nullptr;
    const wchar_t* daily = nullptr;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        if (argument[0] != L'/') {
            path = argument;
        } else if (wcscmp(argument, L"/i") == 0) {
            request->install = true;
        } else if (wcscmp(argument, L"/u") == 0) {
            request->uninstall = true;
        } else if (StartsWith(argument, L"/days:")) {
            // A value that is not a number must never read as 0, which
            // would delete every backup.
            if (!ReadDaysValue(argument + 6, &RetentionDays)) {
                return Refuse(ERROR_INVALID_PARAMETER, argument);
            }
        } else if (StartsWith(argument, L"/daily") &&
                   ReadDailyOption(argument + 6, &request->daily)) {
            daily = argument;
        } else if (wcscmp(argument, L"/service") == 0) {
            ServiceMode = true;
            SilenceConsole();
        } else if (wcscmp(argument, L"/?") == 0) {
            PrintUsage();
            return CommandLineOutcome::Help;
        } else {
            return Refuse(ERROR_INVALID_PARAMETER, argument);
        }
    }

    // A console run that waited for tomorrow would look hung.
    if (daily && !request->install && !ServiceMode) return Refuse(ERROR_INVALID_PARAMETER, daily);

    // One root, one folder: every spelling of a folder gives the same text,
    // so the once-a-day test and retention see the folders they made.
    wchar_t root[RootPathCapacity];
    DWORD error = MakeCanonicalRoot(path ? path : BackupRoot, root, ARRAYSIZE(root));
    if (error != ERROR_SUCCESS) return Refuse(error, path ? path : BackupRoot);
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root);
    return CommandLineOutcome::Run;
}
