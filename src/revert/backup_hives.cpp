#include "revert/backup_hives.h"

#include <stdlib.h>
#include <strsafe.h>
#include <wchar.h>

#include "shared/console.h"
#include "shared/entry_name.h"
#include "shared/machine_hives.h"
#include "shared/name_case.h"
#include "shared/owned_handle.h"

namespace {

// A machine hive's place comes from sysdir.txt, a profile hive's from the
// text beside it.
bool ListHive(HiveTable* list, const wchar_t* folder, const wchar_t* label, bool machine,
              HKEY keyRoot, const wchar_t* keyPath) {
    BackupHive hive{};
    hive.machine = machine;
    hive.keyRoot = keyRoot;
    hive.chosen = true;
    if (!CopyWhole(hive.label, ARRAYSIZE(hive.label), label) ||
        !BuildPath(hive.source, ARRAYSIZE(hive.source), folder, label) ||
        !CopyWhole(hive.keyPath, ARRAYSIZE(hive.keyPath), keyPath) ||
        (machine
             ? !BuildPath(hive.locationFile, ARRAYSIZE(hive.locationFile), folder, L"sysdir.txt")
             : !AddSuffix(hive.locationFile, hive.source, L".txt"))) {
        PrintError(ERROR_FILENAME_EXCED_RANGE, label);
        return false;
    }
    if (!IsFile(hive.source)) return true;
    if (!list->items.Append(hive)) {
        wchar_t line[JoinedPathCapacity + 64];
        FormatText(line, ARRAYSIZE(line), L"(!) No memory to list %s", label);
        PrintError(ERROR_NOT_ENOUGH_MEMORY, line);
        return false;
    }
    return true;
}

bool ListProfileHives(HiveTable* list, const wchar_t* folder, const wchar_t* sid) {
    wchar_t label[JoinedPathCapacity];
    wchar_t keyPath[JoinedPathCapacity];
    bool whole = true;
    if (FAILED(StringCchPrintfW(label, ARRAYSIZE(label), L"%s\\NTUSER.DAT", sid)) ||
        !ListHive(list, folder, label, false, HKEY_USERS, sid)) {
        whole = false;
    }
    if (FAILED(StringCchPrintfW(label, ARRAYSIZE(label), L"%s\\UsrClass.dat", sid)) ||
        FAILED(StringCchPrintfW(keyPath, ARRAYSIZE(keyPath), L"%s_Classes", sid)) ||
        !ListHive(list, folder, label, false, HKEY_USERS, keyPath)) {
        whole = false;
    }
    return whole;
}

int CompareLabels(const void* a, const void* b) {
    return CompareNames(static_cast<const BackupHive*>(a)->label,
                        static_cast<const BackupHive*>(b)->label);
}

// A profile's folder in a backup: a plain subfolder named like a SID.
bool IsProfileFolder(const WIN32_FIND_DATAW& entry) {
    return IsPlainSubfolder(entry) && SameName(entry.cFileName, L"S-1-", 4);
}

}  // namespace

const wchar_t* FinalName(const wchar_t* path) {
    const wchar_t* lastBackslash = wcsrchr(path, L'\\');
    return lastBackslash ? lastBackslash + 1 : path;
}

bool IsFile(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FindBackupHives(const wchar_t* folder, BootStore bootStore, HiveTable* list) {
    list->items.Clear();
    list->whole = false;
    list->bootStore = true;
    bool whole = bootStore == BootStore::Apart ||
                 ListHive(list, folder, L"BCD", true, HKEY_LOCAL_MACHINE, L"BCD00000000");
    for (const MachineHive& machine : MachineHives) {
        whole = ListHive(list, folder, machine.name, true, machine.root, machine.subkey) && whole;
    }

    const size_t firstProfile = list->items.size();
    wchar_t pattern[JoinedPathCapacity];
    if (!BuildPath(pattern, ARRAYSIZE(pattern), folder, L"*")) {
        PrintError(ERROR_FILENAME_EXCED_RANGE, folder);
        return false;
    }
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern, &entry));
    const DWORD listError = listing ? ERROR_SUCCESS : GetLastError();
    if (listError != ERROR_SUCCESS && listError != ERROR_FILE_NOT_FOUND) {
        wchar_t prefix[JoinedPathCapacity + 32];
        FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to list %s", folder);
        PrintError(listError, prefix);
        return false;
    }
    for (bool more = listing.valid(); more; more = FindNextFileW(listing.get(), &entry)) {
        if (!IsProfileFolder(entry)) continue;
        whole = ListProfileHives(list, folder, entry.cFileName) && whole;
    }
    if (list->items.size() > firstProfile) {
        qsort(list->items.data() + firstProfile, list->items.size() - firstProfile,
              sizeof(BackupHive), CompareLabels);
    }
    list->whole = whole;
    return whole;
}
