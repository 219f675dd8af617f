#include "backup/hive_result.h"

#include "backup/redirection_guard.h"
#include "fs/file_marks.h"
#include "hive/hive_check.h"
#include "report/hive_report.h"
#include "shared/file_copy.h"
#include "shared/path_join.h"

namespace {

// Checks the file, then concludes; a file that could not be checked goes.
bool CheckAndConclude(const wchar_t* name, const wchar_t* path, DWORD logs) {
    HiveCheckResult result{};
    if (const DWORD error = CheckHiveFile(path, &result)) {
        PrintHiveFailed(name, error);
        DeleteSharedFile(path);
        return false;
    }
    return ConcludeCheckedHive(name, path, result, logs);
}

}  // namespace

bool ConcludeCheckedHive(const wchar_t* name, const wchar_t* path, const HiveCheckResult& result,
                         DWORD logs) {
    if (result.passed && logs == ERROR_SUCCESS) {
        PrintHiveSaved(name);
        LogHiveCheck(name, result);
        return true;
    }
    if (result.passed) {
        PrintHiveFailed(name, logs);
        LogHiveCheck(name, result);
        return false;
    }
    PrintHiveFailed(name, ERROR_BADDB);
    LogHiveCheck(name, result);
    wchar_t bad[JoinedPathCapacity];
    // A name too long for ".bad" cannot stand as a hive either.
    if (!AddSuffix(bad, path, L".bad") || !MoveFileExW(path, bad, MOVEFILE_REPLACE_EXISTING)) {
        DeleteSharedFile(path);
    }
    return false;
}

bool ConcludeHive(const wchar_t* name, const wchar_t* path) {
    return CheckAndConclude(name, path, ERROR_SUCCESS);
}

bool ConcludeCopiedHive(const wchar_t* name, const wchar_t* source, const wchar_t* destination) {
    // On Windows 8.1 and later recent changes may live only in the logs.
    DWORD logs = ERROR_SUCCESS;
    {
        RedirectionGuard guard;
        logs = CopyHiveLogs(source, destination);
    }
    return CheckAndConclude(name, destination, logs);
}
