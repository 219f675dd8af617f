#include "revert/restore_plan.h"

#include <stdlib.h>
#include <wchar.h>

#include "hive/hive_check.h"
#include "revert/hive_place.h"
#include "revert/restore_journal.h"
#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/heap_array.h"
#include "shared/kept_files.h"
#include "shared/location_text.h"
#include "shared/name_case.h"

namespace {

constexpr size_t PartCapacity = ReasonCapacity + 1024;

// A restore prints a refusal; the listing only the words.
bool CheckHive(BackupHive* hive, PlanUse use, wchar_t* words) {
    if (DescribeCheck(hive->source, words, &hive->dirty)) return true;
    if (use != PlanUse::Show) {
        wchar_t line[PartCapacity + JoinedPathCapacity];
        FormatText(line, ARRAYSIZE(line), L"(!) %s: %s", hive->label, words);
        PrintLine(line);
    }
    return false;
}

bool Place(BackupHive* hive, const wchar_t* root, const FileIdentity& backup, PlanUse use,
           wchar_t* where) {
    wchar_t reason[ReasonCapacity];
    hive->folder = FileIdentity{};
    const DWORD error = root ? PlaceHive(hive, root, backup, reason)
                             : ReadHiveLocation(hive, hive->destination, reason);
    if (error == ERROR_SUCCESS) {
        FormatText(where, PartCapacity, L"goes to %s", hive->destination);
        return true;
    }
    hive->destination[0] = L'\0';
    wchar_t prefix[PartCapacity];
    if (use == PlanUse::Show) {
        FormatText(prefix, ARRAYSIZE(prefix), L"goes nowhere: %s", reason);
        FormatErrorLine(where, PartCapacity, error, prefix);
    } else {
        FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to place %s: %s", hive->label, reason);
        PrintError(error, prefix);
    }
    return false;
}

// The journal lies beside the machine hives and is proved as they are; the
// root must lie outside the backup, which the restore reads from.
bool PlaceJournal(RevertRun* run, const wchar_t* root, FileIdentity* backup) {
    wchar_t reason[ReasonCapacity];
    wchar_t line[PartCapacity];
    DWORD error = IdentifyPath(run->backupFolder, backup);
    if (error != ERROR_SUCCESS) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to open %s", run->backupFolder);
        PrintError(error, line);
        return false;
    }
    error = CheckOutsideBackup(root, *backup, reason);
    if (error == ERROR_SUCCESS) {
        BackupHive journal{};
        journal.machine = true;
        CopyWhole(journal.label, ARRAYSIZE(journal.label), L"revert.journal");
        error = BuildPath(journal.locationFile, ARRAYSIZE(journal.locationFile), run->backupFolder,
                          L"sysdir.txt")
                    ? PlaceHive(&journal, root, *backup, reason)
                    : ERROR_FILENAME_EXCED_RANGE;
        CopyWhole(run->journal.path, ARRAYSIZE(run->journal.path), journal.destination);
    }
    if (error == ERROR_SUCCESS) return true;
    FormatText(line, ARRAYSIZE(line), L"(!) Unable to place revert.journal: %s", reason);
    PrintError(error, line);
    return false;
}

// One file, whatever the spelling: the same folder and the same name; where
// no folder is known (a listing without a root, a file right under the root),
// the same path.
int ComparePlaces(const BackupHive* x, const BackupHive* y) {
    const FileIdentity& a = x->folder;
    const FileIdentity& b = y->folder;
    if (a.volume != b.volume) return a.volume < b.volume ? -1 : 1;
    if (a.indexHigh != b.indexHigh) return a.indexHigh < b.indexHigh ? -1 : 1;
    if (a.indexLow != b.indexLow) return a.indexLow < b.indexLow ? -1 : 1;
    return a.known ? CompareNames(FinalName(x->destination), FinalName(y->destination))
                   : CompareNames(x->destination, y->destination);
}

// By place, and in the order of the list within one place.
int CompareInOrder(const void* a, const void* b) {
    const BackupHive* x = *static_cast<BackupHive* const*>(a);
    const BackupHive* y = *static_cast<BackupHive* const*>(b);
    const int order = ComparePlaces(x, y);
    if (order != 0) return order;
    return x < y ? -1 : (x > y ? 1 : 0);
}

// Two hives aimed at one file would leave the first one's old file lost: the
// later one is refused. *whole turns false when they could not be compared.
bool RefuseSharedPlaces(HiveTable* list, bool* whole) {
    HeapArray<BackupHive*> order;
    if (!order.Reserve(list->items.size())) {
        PrintError(ERROR_NOT_ENOUGH_MEMORY, L"(!) Unable to compare the places of the hives");
        *whole = false;
        return false;
    }
    for (BackupHive& hive : list->items) {
        if (hive.destination[0] != L'\0') order.Append(&hive);
    }
    const size_t placed = order.size();
    qsort(order.data(), placed, sizeof(BackupHive*), CompareInOrder);
    bool apart = true;
    for (size_t i = 1, first = 0; i < placed; ++i) {
        if (ComparePlaces(order[first], order[i]) != 0) {
            first = i;
            continue;
        }
        wchar_t prefix[3 * JoinedPathCapacity];
        FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to place %s: %s goes to %s too",
                   order[i]->label, order[first]->label, order[i]->destination);
        PrintError(ERROR_ALREADY_EXISTS, prefix);
        order[i]->refused = true;
        apart = false;
    }
    return apart;
}

// A place of the journal where the restore kept files that this backup
// cannot reach; the place is read from a file, so it is joined only when it
// is a plain path.
bool LeftKept(const wchar_t* place, const wchar_t* root, const wchar_t* stamp) {
    wchar_t path[JoinedPathCapacity];
    if (!IsContainedLocation(place) || !BuildPath(path, ARRAYSIZE(path), root, place) ||
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

}  // namespace

bool DescribeCheck(const wchar_t* path, wchar_t* words, bool* dirty) {
    HiveCheckResult result;
    const DWORD error = CheckHiveFile(path, &result);
    if (error != ERROR_SUCCESS) {
        FormatErrorLine(words, CheckWordsCapacity, error, L"not checked");
        return false;
    }
    *dirty = result.dirty;
    if (!result.passed) {
        FormatText(words, CheckWordsCapacity, L"failed: %s", result.problem);
    } else if (result.needsLogs) {
        wchar_t logs[HiveProblemCapacity];
        DescribeLogs(result, logs, ARRAYSIZE(logs));
        FormatText(words, CheckWordsCapacity, L"passed %s", logs);
    } else if (result.dirty) {
        FormatText(words, CheckWordsCapacity, L"passed, dirty without usable logs (%s)",
                   result.logsNote);
    } else {
        FormatText(words, CheckWordsCapacity,
                   result.textFormat ? L"passed, Wine text hive" : L"passed");
    }
    return result.passed;
}

PlanOutcome PlanHives(RevertRun* run, const wchar_t* root, PlanUse use) {
    HiveTable* list = &run->hives;
    bool whole = list->whole;
    wchar_t line[2 * PartCapacity + JoinedPathCapacity];
    if (list->items.size() == 0) {
        FormatText(line, ARRAYSIZE(line), L"(!) No hive files in %s", run->backupFolder);
        PrintLine(line);
        return PlanOutcome::Refused;
    }
    FileIdentity backup{};
    if (root) whole = PlaceJournal(run, root, &backup) && whole;
    bool hivesWhole = true;
    for (size_t i = 0; i < list->items.size(); ++i) {
        BackupHive* hive = &list->items[i];
        hive->refused = false;
        hive->destination[0] = L'\0';
        if (!hive->chosen) continue;
        wchar_t check[CheckWordsCapacity] = L"";
        wchar_t where[PartCapacity];
        const bool checked = CheckHive(hive, use, check);
        hive->refused = !Place(hive, root, backup, use, where) || !checked;
        hivesWhole = !hive->refused && hivesWhole;
        if (use == PlanUse::Show) {
            FormatText(line, ARRAYSIZE(line), L"%s: %s; %s", hive->label, check, where);
            PrintLine(line);
        }
    }
    hivesWhole = RefuseSharedPlaces(list, &whole) && hivesWhole;
    if (!(whole && hivesWhole) && use != PlanUse::Show) PrintLine(L"(!) Nothing was changed");
    if (!whole) return PlanOutcome::Refused;
    return hivesWhole ? PlanOutcome::Go : PlanOutcome::HivesRefused;
}

bool PlanJournal(RevertRun* run, const wchar_t* root) {
    FileIdentity backup{};
    return PlaceJournal(run, root, &backup);
}

bool PlanKeptHives(RevertRun* run, const wchar_t* root, const wchar_t* stamp) {
    HiveTable* list = &run->hives;
    enum : unsigned char { Placed, Unplaced, Wanted };
    HeapArray<unsigned char> state;
    FileIdentity backup{};
    DWORD error = state.Extend(list->items.size()) ? IdentifyPath(run->backupFolder, &backup)
                                                   : ERROR_NOT_ENOUGH_MEMORY;
    if (error != ERROR_SUCCESS) {
        wchar_t line[JoinedPathCapacity + 64];
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to plan the undo from %s",
                   run->backupFolder);
        PrintError(error, line);
        PrintLine(L"(!) Nothing was changed");
        return false;
    }
    // Where each hive not placed yet would go, before it is proved.
    for (size_t i = 0; i < list->items.size(); ++i) {
        BackupHive* hive = &list->items[i];
        if (hive->destination[0] != L'\0') continue;
        state[i] = Unplaced;
        wchar_t location[JoinedPathCapacity];
        wchar_t reason[ReasonCapacity];
        if (ReadHiveLocation(hive, location, reason) != ERROR_SUCCESS ||
            !BuildPath(hive->destination, ARRAYSIZE(hive->destination), root, location)) {
            hive->destination[0] = L'\0';
        }
    }
    bool whole = true;
    size_t cursor = 0;
    for (JournalPlace place; NextRestorePlace(run->journal, stamp, &cursor, &place);) {
        bool found = false;
        for (size_t i = 0; i < list->items.size() && !found; ++i) {
            const wchar_t* destination = list->items[i].destination;
            found = destination[0] != L'\0' && SameName(BelowRoot(destination, root), place.place);
            if (found && state[i] == Unplaced) state[i] = Wanted;
        }
        if (!found) whole = !LeftKept(place.place, root, stamp) && whole;
    }
    for (size_t i = 0; i < list->items.size(); ++i) {
        BackupHive* hive = &list->items[i];
        wchar_t where[PartCapacity];
        if (state[i] == Wanted) {
            whole = Place(hive, root, backup, PlanUse::Restore, where) && whole;
        } else if (state[i] == Unplaced) {
            hive->destination[0] = L'\0';
        }
    }
    bool compared = true;
    whole = RefuseSharedPlaces(list, &compared) && whole;
    if (!whole) PrintLine(L"(!) Nothing was changed");
    return whole;
}
