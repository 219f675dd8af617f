#include "revert/boot_store.h"

#include "hive/hive_check.h"
#include "revert/backup_hives.h"
#include "revert/run_state.h"
#include "shared/console.h"

bool FindBootStore(wchar_t* path) {
    return BuildPath(path, JoinedPathCapacity, BackupFolder, L"BCD") && IsFile(path);
}

void PrintBootStoreAdvice() {
    wchar_t path[JoinedPathCapacity];
    if (!FindBootStore(path)) return;
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
