#include "revert/backup_hives.h"

#include <stdlib.h>
#include <strsafe.h>
#include <wchar.h>

#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/entry_name.h"
#include "shared/heap_block.h"
#include "shared/machine_hives.h"
#include "shared/owned_handle.h"

HiveTable HiveList;

namespace {

// Room for one more hive: the list grows by half again, copied to a new block
// (HeapReAlloc is not among the imports the release may use).
bool MakeRoom(HiveTable* list) {
    if (list->count < list->capacity) return true;
    const size_t capacity = list->capacity < 16 ? 16 : list->capacity + list->capacity / 2;
    if (capacity > static_cast<size_t>(-1) / sizeof(BackupHive)) return false;
    auto* items = static_cast<BackupHive*>(GrowHeapBlock(
        list->items, list->count * sizeof(BackupHive), capacity * sizeof(BackupHive)));
    if (!items) return false;
    list->items = items;
    list->capacity = capacity;
    return true;
}

// A machine hive's place comes from sysdir.txt, a profile hive's from the
// text beside it.
bool AddHive(HiveTable* list, const wchar_t* label, bool machine, HKEY keyRoot,
             const wchar_t* keyPath) {
    BackupHive hive{};
    hive.machine = machine;
    hive.keyRoot = keyRoot;
    hive.chosen = true;
    if (!CopyWhole(hive.label, ARRAYSIZE(hive.label), label) ||
        !BuildPath(hive.source, ARRAYSIZE(hive.source), BackupFolder, label) ||
        !CopyWhole(hive.keyPath, ARRAYSIZE(hive.keyPath), keyPath) ||
        (machine ? !BuildPath(hive.locationFile, ARRAYSIZE(hive.locationFile), BackupFolder,
                              L"sysdir.txt")
                 : !AddSuffix(hive.locationFile, hive.source, L".txt"))) {
        PrintError(ERROR_FILENAME_EXCED_RANGE, label);
        return false;
    }
    if (!IsFile(hive.source)) return true;
    if (!MakeRoom(list)) {
        wchar_t line[JoinedPathCapacity + 64];
        FormatText(line, ARRAYSIZE(line), L"(!) No memory to list %s", label);
        PrintError(ERROR_NOT_ENOUGH_MEMORY, line);
        return false;
    }
    list->items[list->count++] = hive;
    return true;
}

bool AddProfileHives(HiveTable* list, const wchar_t* sid) {
    wchar_t label[JoinedPathCapacity];
    wchar_t keyPath[JoinedPathCapacity];
    bool whole = true;
    if (FAILED(StringCchPrintfW(label, ARRAYSIZE(label), L"%s\\NTUSER.DAT", sid)) ||
        !AddHive(list, label, false, HKEY_USERS, sid)) {
        whole = false;
    }
    if (FAILED(StringCchPrintfW(label, ARRAYSIZE(label), L"%s\\UsrClass.dat", sid)) ||
        FAILED(StringCchPrintfW(keyPath, ARRAYSIZE(keyPath), L"%s_Classes", sid)) ||
        !AddHive(list, label, false, HKEY_USERS, keyPath)) {
        whole = false;
    }
    return whole;
}

int CompareLabels(const void* a, const void* b) {
    return _wcsicmp(static_cast<const BackupHive*>(a)->label,
                    static_cast<const BackupHive*>(b)->label);
}

}  // namespace

bool IsProfileFolder(const WIN32_FIND_DATAW& entry) {
    return IsPlainSubfolder(entry) && _wcsnicmp(entry.cFileName, L"S-1-", 4) == 0;
}

const wchar_t* FinalName(const wchar_t* path) {
    const wchar_t* lastBackslash = wcsrchr(path, L'\\');
    return lastBackslash ? lastBackslash + 1 : path;
}

bool IsFile(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FindBackupHives(HiveTable* list) {
    list->count = 0;
    list->whole = false;
    list->bootStore = true;
    bool whole = true;
    for (const MachineHive& machine : MachineHives) {
        whole = AddHive(list, machine.name, true, machine.root, machine.subkey) && whole;
    }

    const size_t firstProfile = list->count;
    wchar_t pattern[JoinedPathCapacity];
    if (!BuildPath(pattern, ARRAYSIZE(pattern), BackupFolder, L"*")) {
        PrintError(ERROR_FILENAME_EXCED_RANGE, BackupFolder);
        return false;
    }
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern, &entry));
    const DWORD listError = listing ? ERROR_SUCCESS : GetLastError();
    if (listError != ERROR_SUCCESS && listError != ERROR_FILE_NOT_FOUND) {
        wchar_t prefix[JoinedPathCapacity + 32];
        FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to list %s", BackupFolder);
        PrintError(listError, prefix);
        return false;
    }
    for (bool more = listing.valid(); more; more = FindNextFileW(listing.get(), &entry)) {
        if (!IsProfileFolder(entry)) continue;
        whole = AddProfileHives(list, entry.cFileName) && whole;
    }
    if (list->count > firstProfile) {
        qsort(list->items + firstProfile, list->count - firstProfile, sizeof(BackupHive),
              CompareLabels);
    }
    list->whole = whole;
    return whole;
}
