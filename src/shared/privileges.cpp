#include "shared/privileges.h"

#include "resource_ids.h"
#include "shared/console.h"

namespace {

// The token stays open for the rest of the process.
HANDLE ProcessToken = nullptr;

DWORD EnablePrivilege(const wchar_t* name, UINT failureMessage) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
        return GetLastError();
    }
    // Success without the privilege leaves ERROR_NOT_ALL_ASSIGNED; only a
    // refused call is reported.
    BOOL adjusted = AdjustTokenPrivileges(ProcessToken, FALSE, &privileges, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    if (!adjusted) {
        PrintResource(failureMessage);
        wchar_t line[4096];
        FormatResource(line, ARRAYSIZE(line), IDS_ERROR_NUMBER, static_cast<int>(error));
        PrintLine(line);
    }
    return error;
}

}  // namespace

DWORD EnableBackupPrivileges() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          &ProcessToken)) {
        return GetLastError();
    }
    DWORD restore = EnablePrivilege(L"SeRestorePrivilege", IDS_UNABLE_TO_SET_RESTORE);
    DWORD backup = EnablePrivilege(L"SeBackupPrivilege", IDS_UNABLE_TO_SET_BACKUP);
    return restore != ERROR_SUCCESS ? restore : backup;
}
