#include "app/privileges.h"

#include <windows.h>

#include "app/process_state.h"
#include "shared/console.h"
#include "resource_ids.h"

namespace {

// The token stays open for the rest of the process.
HANDLE ProcessToken = nullptr;

void EnablePrivilege(const wchar_t* name, UINT failureMessage) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return;

    if (!AdjustTokenPrivileges(ProcessToken, FALSE, &privileges, 0, nullptr, nullptr)) {
        DWORD error = GetLastError();
        PrintResource(failureMessage);
        wchar_t line[LongPathCapacity];
        FormatResource(line, ARRAYSIZE(line), IDS_ERROR_NUMBER, static_cast<int>(error));
        PrintLine(line);
    }
}

}  // namespace

void EnableBackupPrivileges() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          &ProcessToken)) {
        return;
    }
    EnablePrivilege(L"SeRestorePrivilege", IDS_UNABLE_TO_SET_RESTORE);
    EnablePrivilege(L"SeBackupPrivilege", IDS_UNABLE_TO_SET_BACKUP);
}
