#include "revert/undo.h"

#include <wchar.h>

#include "revert/file_replace.h"
#include "revert/hive_place.h"
#include "revert/live_hive.h"
#include "revert/restore_journal.h"
#include "revert/restore_plan.h"
#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/kept_files.h"
#include "shared/location_text.h"

namespace {

BackupHive* FindPlanned(const wchar_t* place) {
    for (size_t i = 0; i < HiveList.count; ++i) {
        BackupHive* hive = &HiveList.items[i];
        if (_wcsicmp(BelowRoot(hive->destination, TargetRoot), place) == 0) return hive;
    }
    return nullptr;
}

// A place of the journal whose kept files this backup cannot reach; the
// place is read from a file, so it is joined only when it is a plain path.
bool LeftKept(const wchar_t* place, const wchar_t* stamp) {
    wchar_t path[JoinedPathCapacity];
    if (!IsContainedLocation(place) || !BuildPath(path, ARRAYSIZE(path), TargetRoot, place) ||
        !HasKeptFiles(path, RevertTag, stamp)) {
        return false;
    }
    wchar_t line[2 * JoinedPathCapacity];
    FormatText(line, ARRAYSIZE(line),
               L"(!) %s is no place of this backup's hives: undo with the backup it came from",
               path);
    PrintLine(line);
    return true;
}

bool WriteJournal(const wchar_t* word, const wchar_t* stamp) {
    const DWORD error = AppendJournal(word, stamp);
    if (error == ERROR_SUCCESS) return true;
    wchar_t line[JoinedPathCapacity + 64];
    FormatText(line, ARRAYSIZE(line), L"(!) Unable to write to %s", JournalPath);
    PrintError(error, line);
    return false;
}

}  // namespace

bool UndoKept(const wchar_t* stamp, bool cutShort, bool online) {
    wchar_t line[JoinedPathCapacity + 64];
    if (cutShort) {
        FormatText(line, ARRAYSIZE(line),
                   L"The restore under the stamp %s, or its undo, did not finish", stamp);
        PrintLine(line);
    }
    FormatText(line, ARRAYSIZE(line), L"Putting back the files kept as NAME.%s-%s", RevertTag,
               stamp);
    PrintLine(line);
    if (!WriteJournal(L"undo", stamp)) return false;
    wchar_t now[StampCapacity];
    FormatStamp(now);
    bool whole = true;
    bool scheduled = false;
    size_t cursor = 0;
    for (JournalPlace place; NextRestorePlace(stamp, &cursor, &place);) {
        BackupHive* hive = FindPlanned(place.place);
        if (!hive) {
            whole = !LeftKept(place.place, stamp) && whole;
            continue;
        }
        if (!HasKeptFiles(hive->destination, RevertTag, stamp)) continue;
        KeyHandle key;
        if (online && OpenLoadedHive(hive, &key)) {
            whole = ScheduleUndo(hive, key.get(), stamp, now) && whole;
            scheduled = true;
        } else {
            whole = PutBackNow(hive->destination, stamp, place.had) && whole;
        }
    }
    whole = whole && WriteJournal(L"undone", stamp);
    if (scheduled) PrintLine(L"A restart finishes the restore.");
    return whole;
}

int UndoRestore(bool online) {
    if (!PlanHives(&HiveList, TargetRoot, PlanUse::Undo)) return ExitFailed;
    wchar_t line[JoinedPathCapacity + 64];
    const DWORD error = ReadJournal();
    if (error != ERROR_SUCCESS) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to read %s", JournalPath);
        PrintError(error, line);
        return ExitFailed;
    }
    wchar_t stamp[StampCapacity];
    bool cutShort = false;
    if (!FindLatestRestore(stamp, &cutShort)) {
        FormatText(line, ARRAYSIZE(line), L"(!) Nothing kept by a restore under %s", TargetRoot);
        PrintLine(line);
        return ExitFailed;
    }
    return UndoKept(stamp, cutShort, online) ? ExitDone : ExitFailed;
}
