#include "revert/restore.h"

#include "revert/boot_store.h"
#include "revert/file_replace.h"
#include "revert/hive_choice.h"
#include "revert/hive_place.h"
#include "revert/live_hive.h"
#include "revert/restore_journal.h"
#include "revert/restore_plan.h"
#include "revert/run_state.h"
#include "revert/undo.h"
#include "shared/console.h"
#include "shared/kept_files.h"

namespace {

// A stamp no restore of the journal has, so each restore's kept files have
// names of their own. The clock may have been set back onto an earlier one.
bool TakeFreshStamp(const RestoreJournal& journal, wchar_t* stamp) {
    for (int tries = 0; tries < 5; ++tries) {
        if (tries > 0) Sleep(1000);
        FormatStamp(stamp);
        if (!IsStampTaken(journal, stamp)) return true;
    }
    return false;
}

// what: a line naming the journal with %s.
void ReportJournal(const RestoreJournal& journal, DWORD error, const wchar_t* what) {
    wchar_t line[JoinedPathCapacity + 64];
    FormatText(line, ARRAYSIZE(line), what, journal.path);
    PrintError(error, line);
}

int Refuse(const RestoreJournal& journal, DWORD error, const wchar_t* what) {
    ReportJournal(journal, error, what);
    PrintLine(L"(!) Nothing was changed");
    return ExitFailed;
}

}  // namespace

int RestoreBackup(RevertRun* run, bool online) {
    const PlanOutcome plan = PlanHives(run, run->targetRoot, PlanUse::Restore);
    if (plan == PlanOutcome::HivesRefused) PrintRestCommand(*run, run->targetRoot, online);
    if (plan != PlanOutcome::Go) return ExitFailed;
    HeapArray<BackupHive>& hives = run->hives.items;
    RestoreJournal& journal = run->journal;
    size_t chosen = 0;
    for (const BackupHive& hive : hives) chosen += hive.chosen ? 1 : 0;
    if (chosen == 0) {  // the boot store alone
        PrintBootStoreAdvice(run->backupFolder);
        return ExitDone;
    }
    DWORD error = ReadJournal(&journal);
    if (error != ERROR_SUCCESS) return Refuse(journal, error, L"(!) Unable to read %s");

    // A restore or an undo cut short is undone whole first, so that what this
    // one keeps aside are the files as they were before it, whichever hives
    // it chose.
    wchar_t stamp[StampCapacity];
    bool cutShort = false;
    if (FindLatestRestore(journal, stamp, &cutShort) && cutShort) {
        if (!PlanKeptHives(run, run->targetRoot, stamp)) return ExitFailed;
        if (!UndoKept(run, stamp, true, online)) {
            PrintLine(L"(!) Nothing else was changed");
            return ExitFailed;
        }
    }
    if (!TakeFreshStamp(journal, stamp)) {
        return Refuse(journal, ERROR_ALREADY_EXISTS,
                      L"(!) Every stamp the clock gives is taken in %s");
    }
    for (size_t i = 0; i < hives.size(); ++i) {
        BackupHive* hive = &hives[i];
        if (!hive->chosen) continue;
        KeyHandle key;
        hive->loaded = online && OpenLoadedHive(hive, &key);
        // The live logs of a loaded hive stay with it and are not the old
        // file's: an undo takes them away with the restored file.
        hive->present = PresentHiveFiles(hive->destination) & (hive->loaded ? 1u : AllHiveFiles);
    }
    error = AppendRestore(&journal, stamp, run->hives, run->targetRoot);
    if (error != ERROR_SUCCESS) return Refuse(journal, error, L"(!) Unable to write %s");

    wchar_t line[128];
    FormatText(line, ARRAYSIZE(line), L"Replaced files are kept beside them as NAME.%s-%s",
               RevertTag, stamp);
    PrintLine(line);
    bool whole = true;
    for (size_t i = 0; i < hives.size(); ++i) {
        const BackupHive* hive = &hives[i];
        if (!hive->chosen) continue;
        KeyHandle key;
        const bool done = hive->loaded && OpenLoadedHive(hive, &key)
                              ? ScheduleReplace(hive, key.get(), stamp)
                              : ReplaceNow(hive, stamp);
        whole = done && whole;
    }
    error = AppendJournal(&journal, L"restored", stamp);
    if (error != ERROR_SUCCESS) {
        ReportJournal(journal, error, L"(!) Unable to write to %s");
        whole = false;
    }
    if (run->hives.bootStore) PrintBootStoreAdvice(run->backupFolder);
    if (online) PrintLine(L"A restart finishes the restore.");
    return whole ? ExitDone : ExitFailed;
}
