#include "backup/hive_result.h"

#include "backup/redirection_guard.h"
#include "report/hive_report.h"
#include "shared/file_copy.h"
#include "shared/path_join.h"

bool ConcludeHive(const wchar_t* name, const wchar_t* path, const HiveCheckResult* copied) {
    HiveCheckResult result{};
    if (copied) {
        result = *copied;
    } else {
        DWORD error = ERROR_SUCCESS;
        if (!CheckHiveFile(path, &result, &error)) {
            PrintHiveFailed(name, error);
            DeleteFileW(path);
            return false;
        }
    }
    if (result.passed) {
        PrintHiveSaved(name);
        LogHiveCheck(name, result);
        return true;
    }

    PrintHiveFailed(name, ERROR_BADDB);
    LogHiveCheck(name, result);
    wchar_t bad[JoinedPathCapacity];
    // A name too long for ".bad" cannot stand as a hive either.
    if (!AddSuffix(bad, path, L".bad") || !MoveFileExW(path, bad, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(path);
    }
    return false;
}

bool ConcludeCopiedHive(const wchar_t* name, const wchar_t* source, const wchar_t* destination,
                        const HiveCheckResult& check) {
    // On Windows 8.1 and later recent changes may live only in the logs.
    DWORD logs = ERROR_SUCCESS;
    {
        RedirectionGuard guard;
        logs = CopyHiveLogs(source, destination);
    }
    if (logs != ERROR_SUCCESS && check.passed) {
        PrintHiveFailed(name, logs);
        LogHiveCheck(name, check);
        return false;
    }
    return ConcludeHive(name, destination, &check);
}
