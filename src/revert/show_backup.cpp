#include "revert/show_backup.h"

#include "hive/hive_check.h"
#include "revert/backup_hives.h"
#include "revert/boot_store.h"
#include "revert/hive_place.h"
#include "revert/run_state.h"
#include "shared/console.h"

namespace {

constexpr size_t PartCapacity = ReasonCapacity + 1024;

// "passed", "passed, needs its logs", "passed, dirty without its logs",
// "passed, Wine text hive",
// "failed: <problem>" or "not checked [<system text>]".
bool DescribeCheck(const wchar_t* path, wchar_t* text) {
    HiveCheckResult result;
    DWORD error = ERROR_SUCCESS;
    if (!CheckHiveFile(path, &result, &error)) {
        FormatErrorLine(text, PartCapacity, error, L"not checked");
        return false;
    }
    if (!result.passed) {
        FormatText(text, PartCapacity, L"failed: %s", result.problem);
    } else {
        FormatText(text, PartCapacity,
                   result.needsLogs    ? L"passed, needs its logs"
                   : result.dirty      ? L"passed, dirty without its logs"
                   : result.textFormat ? L"passed, Wine text hive"
                                       : L"passed");
    }
    return result.passed;
}

}  // namespace

int ShowBackup() {
    wchar_t check[PartCapacity];
    wchar_t where[PartCapacity];
    wchar_t line[2 * PartCapacity + JoinedPathCapacity];
    bool whole = true;

    wchar_t bootStore[JoinedPathCapacity];
    if (FindBootStore(bootStore)) {
        whole = DescribeCheck(bootStore, check) && whole;
        FormatText(line, ARRAYSIZE(line), L"BCD: %s; not replaced: bcdedit /import \"%s\"", check,
                   bootStore);
        PrintLine(line);
    }

    size_t count = 0;
    whole = FindBackupHives(HiveList, &count) && whole;
    for (size_t i = 0; i < count; ++i) {
        whole = DescribeCheck(HiveList[i].source, check) && whole;
        wchar_t location[JoinedPathCapacity];
        wchar_t reason[ReasonCapacity];
        const DWORD error = ReadHiveLocation(&HiveList[i], location, reason);
        if (error == ERROR_SUCCESS) {
            FormatText(where, ARRAYSIZE(where), L"goes to %s", location);
        } else {
            wchar_t prefix[ReasonCapacity + 16];
            FormatText(prefix, ARRAYSIZE(prefix), L"goes nowhere: %s", reason);
            FormatErrorLine(where, ARRAYSIZE(where), error, prefix);
            whole = false;
        }
        FormatText(line, ARRAYSIZE(line), L"%s: %s; %s", HiveList[i].label, check, where);
        PrintLine(line);
    }
    if (count == 0) {
        FormatText(line, ARRAYSIZE(line), L"(!) No hive files in %s", BackupFolder);
        PrintLine(line);
        whole = false;
    }
    return whole ? ExitDone : ExitFailed;
}
