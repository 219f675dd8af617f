#include "revert/restore.h"

#include "revert/boot_store.h"
#include "revert/file_replace.h"
#include "revert/live_hive.h"
#include "revert/restore_plan.h"
#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/kept_files.h"

int RestoreBackup(bool online) {
    size_t count = 0;
    if (!PlanHives(HiveList, &count, true)) return ExitFailed;

    // One stamp for the whole run, so /undo finds everything it kept.
    wchar_t stamp[StampCapacity];
    FormatStamp(stamp);
    wchar_t line[128];
    FormatText(line, ARRAYSIZE(line), L"Replaced files are kept beside them as NAME.%s-%s",
               RevertTag, stamp);
    PrintLine(line);

    bool whole = true;
    for (size_t i = 0; i < count; ++i) {
        const BackupHive* hive = &HiveList[i];
        KeyHandle key;
        const bool done = online && OpenLoadedHive(hive, &key)
                              ? ScheduleReplace(hive, key.get(), stamp)
                              : ReplaceNow(hive, stamp);
        whole = done && whole;
    }
    PrintBootStoreAdvice();
    if (online) PrintLine(L"A restart finishes the restore.");
    return whole ? ExitDone : ExitFailed;
}
