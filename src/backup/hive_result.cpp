#include "backup/hive_result.h"

#include "backup/redirection_guard.h"
#include "fs/file_marks.h"
#include "hive/hive_check.h"
#include "report/hive_report.h"
#include "shared/file_copy.h"
#include "shared/path_join.h"

namespace {

// The hive's line and the check's; a log that could not be copied fails a
// hive that passed.
bool Conclude(const wchar_t* name, const wchar_t* path, DWORD logs) {
    HiveCheckResult result{};
    DWORD error = ERROR_SUCCESS;
    if (!CheckHiveFile(path, &result, &error)) {
        PrintHiveFailed(name, error);
        DeleteSharedFile(path);
        return false;
    }
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

}  // namespace

bool ConcludeHive(const wchar_t* name, const wchar_t* path) {
    return Conclude(name, path, ERROR_SUCCESS);
}

bool ConcludeCopiedHive(const wchar_t* name, const wchar_t* source, const wchar_t* destination) {
    // On Windows 8.1 and later recent changes may live only in the logs.
    DWORD logs = ERROR_SUCCESS;
    {
        RedirectionGuard guard;
        logs = CopyHiveLogs(source, destination);
    }
    return Conclude(name, destination, logs);
}
