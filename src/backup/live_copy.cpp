#include "backup/live_copy.h"

#include "backup/redirection_guard.h"
#include "shared/file_copy.h"

DWORD LastCopyError = 0;

bool CopyLiveFile(const wchar_t* source, const wchar_t* destination) {
    RedirectionGuard guard;
    LastCopyError = CopyFileBytes(source, destination);
    return LastCopyError == ERROR_SUCCESS;
}

bool CopyLiveHive(HiveCopier* copier, const wchar_t* source, const wchar_t* destination,
                  HiveCheckResult* verdict, DWORD* logs) {
    RedirectionGuard guard;
    LastCopyError = CopyAndCheckHive(copier, source, destination, verdict, logs);
    return LastCopyError == ERROR_SUCCESS;
}
