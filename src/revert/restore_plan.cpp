#include "revert/restore_plan.h"

#include <stdlib.h>
#include <wchar.h>

#include "hive/hive_check.h"
#include "revert/hive_place.h"
#include "revert/restore_journal.h"
#include "revert/run_state.h"
#include "shared/console.h"

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
bool PlaceJournal(const wchar_t* root, FileIdentity* backup) {
    wchar_t reason[ReasonCapacity];
    wchar_t line[PartCapacity];
    DWORD error = IdentifyPath(BackupFolder, backup);
    if (error != ERROR_SUCCESS) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to open %s", BackupFolder);
        PrintError(error, line);
        return false;
    }
    error = CheckOutsideBackup(root, *backup, reason);
    if (error == ERROR_SUCCESS) {
        BackupHive journal{};
        journal.machine = true;
        CopyWhole(journal.label, ARRAYSIZE(journal.label), L"revert.journal");
        error = BuildPath(journal.locationFile, ARRAYSIZE(journal.locationFile), BackupFolder,
                          L"sysdir.txt")
                    ? PlaceHive(&journal, root, *backup, reason)
                    : ERROR_FILENAME_EXCED_RANGE;
        CopyWhole(JournalPath, ARRAYSIZE(JournalPath), journal.destination);
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
    return a.known ? _wcsicmp(FinalName(x->destination), FinalName(y->destination))
                   : _wcsicmp(x->destination, y->destination);
}

// By place, and in the order of the list within one place.
int CompareInOrder(const void* a, const void* b) {
    const BackupHive* x = *static_cast<BackupHive* const*>(a);
    const BackupHive* y = *static_cast<BackupHive* const*>(b);
    const int order = ComparePlaces(x, y);
    if (order != 0) return order;
    return x < y ? -1 : (x > y ? 1 : 0);
}

// Two hives aimed at one file would leave the first one's old file lost.
bool RefuseSharedPlaces(HiveTable* list) {
    auto** order = static_cast<BackupHive**>(
        HeapAlloc(GetProcessHeap(), 0, (list->count + 1) * sizeof(BackupHive*)));
    if (!order) {
        PrintError(ERROR_NOT_ENOUGH_MEMORY, L"(!) Unable to compare the places of the hives");
        return false;
    }
    size_t placed = 0;
    for (size_t i = 0; i < list->count; ++i) {
        if (list->items[i].destination[0] != L'\0') order[placed++] = &list->items[i];
    }
    qsort(order, placed, sizeof(*order), CompareInOrder);
    bool whole = true;
    for (size_t i = 1, first = 0; i < placed; ++i) {
        if (ComparePlaces(order[first], order[i]) != 0) {
            first = i;
            continue;
        }
        wchar_t prefix[3 * JoinedPathCapacity];
        FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to place %s: %s goes to %s too",
                   order[i]->label, order[first]->label, order[i]->destination);
        PrintError(ERROR_ALREADY_EXISTS, prefix);
        whole = false;
    }
    HeapFree(GetProcessHeap(), 0, order);
    return whole;
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

bool PlanHives(HiveTable* list, const wchar_t* root, PlanUse use) {
    bool whole = FindBackupHives(list);
    wchar_t line[2 * PartCapacity + JoinedPathCapacity];
    if (list->count == 0) {
        FormatText(line, ARRAYSIZE(line), L"(!) No hive files in %s", BackupFolder);
        PrintLine(line);
        return false;
    }
    FileIdentity backup{};
    if (root) whole = PlaceJournal(root, &backup) && whole;
    for (size_t i = 0; i < list->count; ++i) {
        BackupHive* hive = &list->items[i];
        wchar_t check[CheckWordsCapacity] = L"";
        wchar_t where[PartCapacity];
        const bool checked = use == PlanUse::Undo || CheckHive(hive, use, check);
        whole = Place(hive, root, backup, use, where) && checked && whole;
        if (use == PlanUse::Show) {
            FormatText(line, ARRAYSIZE(line), L"%s: %s; %s", hive->label, check, where);
            PrintLine(line);
        }
    }
    whole = RefuseSharedPlaces(list) && whole;
    if (!whole && use != PlanUse::Show) PrintLine(L"(!) Nothing was changed");
    return whole;
}
