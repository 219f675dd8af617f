#include "backup/live_copy.h"

#include "backup/redirection_guard.h"
#include "shared/file_copy.h"

DWORD LastCopyError = 0;

bool CopyLiveFile(const wchar_t* source, const wchar_t* destination, HiveCheckResult* check) {
    RedirectionGuard guard;
    HiveCheck state;
    if (check) HiveCheckBegin(&state);
    LastCopyError = CopyFileBytes(source, destination, check ? &state : nullptr);
    if (LastCopyError != ERROR_SUCCESS) return false;
    if (check) *check = HiveCheckEnd(&state);
    return true;
}
