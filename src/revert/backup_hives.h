#pragma once
// The hive files of a dated backup folder, each with what is needed to put
// it back: its location text and the key it is loaded under when live.
#include <windows.h>

#include "shared/file_identity.h"
#include "shared/heap_array.h"
#include "shared/path_join.h"

struct BackupHive {
    wchar_t label[JoinedPathCapacity];   // "SYSTEM", "S-1-5-...\NTUSER.DAT": its path in the backup
    wchar_t source[JoinedPathCapacity];  // the file in the backup
    wchar_t locationFile[JoinedPathCapacity];  // sysdir.txt, or the hive's name and .txt beside it
    bool machine;                              // lives in <location>\config\<name>
    HKEY keyRoot;                              // where it is loaded on a live system
    wchar_t keyPath[JoinedPathCapacity];
    bool dirty;  // from its check: judged after its logs, or as Windows loads it without them
    wchar_t destination[JoinedPathCapacity];  // filled by PlanHives
    FileIdentity folder;                      // the folder the destination lies in
    bool loaded;       // a restore online finds it loaded: swapped at the next start
    unsigned present;  // before a restore: which of the file and its logs are there
    bool chosen;       // among the hives the run acts on (/only:, or every one)
    bool refused;      // refused by the last plan: no place, a failed check, a place taken
};

// The hives of the backup: as many as it holds.
struct HiveTable {
    HeapArray<BackupHive> items;
    bool whole = false;      // every hive file could be listed
    bool bootStore = false;  // the boot store is among the chosen, when the backup holds one
};

// Which list the boot store BCD is in: a restore only advises how to put it
// back, so it stays apart; a comparison reads it as any other hive.
enum class BootStore { Apart, Listed };

// The one listing of a backup's hives: fills the list with the hive files
// present in folder, BCD first when Listed, the machine hives in a fixed
// order, then the NTUSER.DAT and UsrClass.dat files of the folders named
// like SIDs, sorted; every one chosen, the boot store too. A name that
// cannot be taken is reported; false then (and list->whole), with the
// others still listed. A list the memory cannot hold is refused with
// ERROR_NOT_ENOUGH_MEMORY.
bool FindBackupHives(const wchar_t* folder, BootStore bootStore, HiveTable* list);

// The part of a path after its last backslash.
const wchar_t* FinalName(const wchar_t* path);

// True for an existing file that is not a folder.
bool IsFile(const wchar_t* path);
