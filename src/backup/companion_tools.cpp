#include "backup/companion_tools.h"

#include "report/run_log.h"
#include "shared/console.h"
#include "shared/path_join.h"
#include "state/run_state.h"

namespace {

constexpr const wchar_t* CompanionTools[] = {L"revert.exe", L"tidy.exe", L"revert_x64.exe",
                                             L"tidy_x64.exe"};

}  // namespace

DWORD CopyCompanionTools(const wchar_t* folder) {
    DWORD failed = 0;
    for (const wchar_t* name : CompanionTools) {
        wchar_t source[JoinedPathCapacity];
        wchar_t destination[JoinedPathCapacity];
        // A tool whose path cannot be formed cannot be found either.
        if (!BuildPath(source, ARRAYSIZE(source), ModuleDir, name)) continue;
        if (!BuildPath(destination, ARRAYSIZE(destination), folder, name)) continue;
        if (CopyFileW(source, destination, FALSE)) continue;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
        // A copy cut short (a full disk) must not pass for the tool.
        DeleteFileW(destination);
        wchar_t prefix[64];
        FormatText(prefix, ARRAYSIZE(prefix), L"Copy error %s ", name);
        wchar_t line[RootPathCapacity];
        FormatErrorLine(line, ARRAYSIZE(line), error, prefix);
        PrintAndLog(line);
        ++failed;
    }
    return failed;
}
