#include "revert/undo.h"

#include <wchar.h>

#include "revert/file_replace.h"
#include "revert/live_hive.h"
#include "revert/restore_plan.h"
#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/kept_files.h"

int UndoRestore(bool online) {
    size_t count = 0;
    if (!PlanHives(HiveList, &count, false)) return ExitFailed;

    // The most recent restore is the latest stamp beside any destination;
    // older ones stay where they are.
    wchar_t latest[StampCapacity] = L"";
    for (size_t i = 0; i < count; ++i) {
        wchar_t stamp[StampCapacity];
        if (FindLatestStamp(HiveList[i].destination, RevertTag, stamp) &&
            wcscmp(stamp, latest) > 0) {
            CopyWhole(latest, ARRAYSIZE(latest), stamp);
        }
    }
    wchar_t line[JoinedPathCapacity + 64];
    if (latest[0] == L'\0') {
        FormatText(line, ARRAYSIZE(line), L"(!) Nothing kept by a restore under %s", TargetRoot);
        PrintLine(line);
        return ExitFailed;
    }
    FormatText(line, ARRAYSIZE(line), L"Putting back the files kept as NAME.%s-%s", RevertTag,
               latest);
    PrintLine(line);

    wchar_t stamp[StampCapacity];
    FormatStamp(stamp);
    bool whole = true;
    bool scheduled = false;
    for (size_t i = 0; i < count; ++i) {
        if (!HasKeptFiles(HiveList[i].destination, latest)) continue;
        KeyHandle key;
        if (online && OpenLoadedHive(&HiveList[i], &key)) {
            whole = ScheduleUndo(&HiveList[i], key.get(), latest, stamp) && whole;
            scheduled = true;
        } else {
            whole = PutBackNow(HiveList[i].destination, latest) && whole;
        }
    }
    if (scheduled) PrintLine(L"A restart finishes the restore.");
    return whole ? ExitDone : ExitFailed;
}
