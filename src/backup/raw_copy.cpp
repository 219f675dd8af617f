#include "backup/raw_copy.h"

#include "backup/redirection_guard.h"
#include "shared/file_copy.h"
#include "shared/hive_logs.h"
#include "shared/path_join.h"

DWORD LastCopyError = 0;

bool CopyFileRaw(const wchar_t* source, const wchar_t* destination, HiveCheckResult* check) {
    RedirectionGuard guard;
    HiveCheck state;
    if (check) HiveCheckBegin(&state);
    LastCopyError = CopyFileWhole(source, destination, check ? &state : nullptr);
    if (LastCopyError != ERROR_SUCCESS) return false;
    if (check) *check = HiveCheckEnd(&state);
    return true;
}

DWORD CopyHiveLogs(const wchar_t* source, const wchar_t* destination) {
    // On Windows 8.1 and later recent changes may live only in the logs.
    for (const wchar_t* suffix : HiveLogSuffixes) {
        wchar_t from[JoinedPathCapacity];
        wchar_t to[JoinedPathCapacity];
        if (!AddSuffix(from, source, suffix) || !AddSuffix(to, destination, suffix)) {
            return ERROR_FILENAME_EXCED_RANGE;
        }
        if (!CopyFileRaw(from, to) && LastCopyError != ERROR_FILE_NOT_FOUND) return LastCopyError;
    }
    LastCopyError = ERROR_SUCCESS;
    return ERROR_SUCCESS;
}
