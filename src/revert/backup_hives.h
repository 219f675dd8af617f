#pragma once
// The hive files of a dated backup folder, each with what is needed to put
// it back: its location text and the key it is loaded under when live.
#include <windows.h>

#include "shared/path_join.h"

constexpr size_t MaxBackupHives = 256;

struct BackupHive {
    wchar_t label[JoinedPathCapacity];   // "SYSTEM", "S-1-5-...\NTUSER.DAT": its path in the backup
    wchar_t source[JoinedPathCapacity];  // the file in the backup
    wchar_t locationFile[JoinedPathCapacity];  // sysdir.txt, or the hive's name and .txt beside it
    bool machine;                              // lives in <location>\config\<name>
    HKEY keyRoot;                              // where it is loaded on a live system
    wchar_t keyPath[JoinedPathCapacity];
    bool dirty;  // from its check: current only with its logs, or loaded without them
    wchar_t destination[JoinedPathCapacity];  // filled by PlaceHives
};

// The one list a run works through: only one action runs.
extern BackupHive HiveList[MaxBackupHives];

// Fills hives with the machine hives present as files in BackupFolder, in a
// fixed order, then the NTUSER.DAT and UsrClass.dat files of the folders
// named like SIDs, sorted. A name that cannot be taken is reported; false
// then, with the others still listed.
bool FindBackupHives(BackupHive* hives, size_t* count);

// The part of a path after its last backslash.
const wchar_t* FinalName(const wchar_t* path);

// True for an existing file that is not a folder.
bool IsFile(const wchar_t* path);
