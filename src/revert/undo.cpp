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
#include "shared/name_case.h"

namespace {

BackupHive* FindPlanned(RevertRun* run, const wchar_t* place) {
    for (BackupHive& hive : run->hives.items) {
        if (hive.destination[0] != L'\0' &&
            SameName(BelowRoot(hive.destination, run->targetRoot), place)) {
            return &hive;
        }
    }
    return nullptr;
}

bool WriteJournal(RestoreJournal* journal, const wchar_t* word, const wchar_t* stamp) {
    const DWORD error = AppendJournal(journal, word, stamp);
    if (error == ERROR_SUCCESS) return true;
    wchar_t line[JoinedPathCapacity + 64];
    FormatText(line, ARRAYSIZE(line), L"(!) Unable to write to %s", journal->path);
    PrintError(error, line);
    return false;
}

}  // namespace

bool UndoKept(RevertRun* run, const wchar_t* stamp, bool cutShort, bool online) {
    wchar_t line[JoinedPathCapacity + 64];
    if (cutShort) {
        FormatText(line, ARRAYSIZE(line),
                   L"The restore under the stamp %s, or its undo, did not finish", stamp);
        PrintLine(line);
    }
    FormatText(line, ARRAYSIZE(line), L"Putting back the files kept as NAME.%s-%s", RevertTag,
               stamp);
    PrintLine(line);
    if (!WriteJournal(&run->journal, L"undo", stamp)) return false;
    wchar_t now[StampCapacity];
    FormatStamp(now);
    bool whole = true;
    bool scheduled = false;
    size_t cursor = 0;
    for (JournalPlace place; NextRestorePlace(run->journal, stamp, &cursor, &place);) {
        // Planned, every place with kept files has its hive.
        BackupHive* hive = FindPlanned(run, place.place);
        if (!hive || !HasKeptFiles(hive->destination, RevertTag, stamp)) continue;
        KeyHandle key;
        if (online && OpenLoadedHive(hive, &key)) {
            whole = ScheduleUndo(hive, key.get(), stamp, now) && whole;
            scheduled = true;
        } else {
            whole = PutBackNow(hive->destination, stamp, place.had) && whole;
        }
    }
    whole = whole && WriteJournal(&run->journal, L"undone", stamp);
    if (scheduled) PrintLine(L"A restart finishes the restore.");
    return whole;
}

int UndoRestore(RevertRun* run, bool online) {
    for (BackupHive& hive : run->hives.items) hive.destination[0] = L'\0';
    if (!PlanJournal(run, run->targetRoot)) {
        PrintLine(L"(!) Nothing was changed");
        return ExitFailed;
    }
    wchar_t line[JoinedPathCapacity + 64];
    const DWORD error = ReadJournal(&run->journal);
    if (error != ERROR_SUCCESS) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to read %s", run->journal.path);
        PrintError(error, line);
        return ExitFailed;
    }
    wchar_t stamp[StampCapacity];
    bool cutShort = false;
    if (!FindLatestRestore(run->journal, stamp, &cutShort)) {
        FormatText(line, ARRAYSIZE(line), L"(!) Nothing kept by a restore under %s",
                   run->targetRoot);
        PrintLine(line);
        return ExitFailed;
    }
    if (!PlanKeptHives(run, run->targetRoot, stamp)) return ExitFailed;
    return UndoKept(run, stamp, cutShort, online) ? ExitDone : ExitFailed;
}
