#include "revert/boot_store.h"

#include "hive/hive_check.h"
#include "revert/backup_hives.h"
#include "shared/console.h"

bool FindBootStore(const wchar_t* backupFolder, wchar_t* path) {
    return BuildPath(path, JoinedPathCapacity, backupFolder, L"BCD") && IsFile(path);
}

void PrintBootStoreAdvice(const wchar_t* backupFolder) {
    wchar_t path[JoinedPathCapacity];
    if (!FindBootStore(backupFolder, path)) return;
    HiveCheckResult result;
    wchar_t line[JoinedPathCapacity + 128];
    const DWORD error = CheckHiveFile(path, &result);
    if (error != ERROR_SUCCESS) {
        PrintError(error, L"(!) Unable to check the boot store BCD");
    } else if (!result.passed) {
        FormatText(line, ARRAYSIZE(line), L"(!) The boot store BCD failed its check: %s",
                   result.problem);
        PrintLine(line);
    } else {
        FormatText(line, ARRAYSIZE(line), L"To restore the boot store: bcdedit /import \"%s\"",
                   path);
        PrintLine(line);
    }
}
