#include "service/service_command_line.h"

#include <strsafe.h>
#include <wchar.h>

#include "shared/console.h"
#include "shared/path_join.h"
#include "state/run_state.h"

namespace {

// Appends `path` between double quotes so that the C runtime hands it back
// unchanged: backslashes are literal unless a quote follows them, so the ones
// just before the closing quote are doubled.
bool AppendQuotedPath(wchar_t* commandLine, size_t capacity, const wchar_t* path) {
    size_t length = wcslen(path);
    size_t trailing = 0;
    while (trailing < length && path[length - 1 - trailing] == L'\\') ++trailing;

    if (FAILED(StringCchCatW(commandLine, capacity, L"\""))) return false;
    if (FAILED(StringCchCatW(commandLine, capacity, path))) return false;
    for (size_t i = 0; i < trailing; ++i) {
        if (FAILED(StringCchCatW(commandLine, capacity, L"\\"))) return false;
    }
    return SUCCEEDED(StringCchCatW(commandLine, capacity, L"\""));
}

bool Refuse(wchar_t* commandLine, size_t capacity, DWORD code) {
    if (capacity > 0) commandLine[0] = L'\0';
    SetLastError(code);
    return false;
}

}  // namespace

bool ComposeServiceCommandLine(const DailySchedule& daily, wchar_t* commandLine, size_t capacity) {
    // No Windows path holds a double quote, so one here could not be carried;
    // and the service control manager would expand %NAME% in the line.
    if (wcspbrk(ModuleDir, L"\"%") || wcspbrk(BackupRoot, L"\"%")) {
        return Refuse(commandLine, capacity, ERROR_INVALID_PARAMETER);
    }

    // The registered name is zel.exe whatever this file is called.
    wchar_t executable[RootPathCapacity];
    if (!BuildPath(executable, ARRAYSIZE(executable), ModuleDir, L"zel.exe")) {
        return Refuse(commandLine, capacity, ERROR_FILENAME_EXCED_RANGE);
    }

    wchar_t options[SystemTextCapacity];
    FormatText(options, ARRAYSIZE(options), L" /service /days:%d ", RetentionDays);
    wchar_t dailyOption[32] = L"";
    if (daily.timeGiven) {
        FormatText(dailyOption, ARRAYSIZE(dailyOption), L"/daily:%02d:%02d ", daily.minute / 60,
                   daily.minute % 60);
    } else if (daily.daily) {
        FormatText(dailyOption, ARRAYSIZE(dailyOption), L"/daily ");
    }

    if (capacity == 0) return Refuse(commandLine, capacity, ERROR_FILENAME_EXCED_RANGE);
    commandLine[0] = L'\0';
    if (!AppendQuotedPath(commandLine, capacity, executable) ||
        FAILED(StringCchCatW(commandLine, capacity, options)) ||
        FAILED(StringCchCatW(commandLine, capacity, dailyOption)) ||
        !AppendQuotedPath(commandLine, capacity, BackupRoot)) {
        return Refuse(commandLine, capacity, ERROR_FILENAME_EXCED_RANGE);
    }
    return true;
}
