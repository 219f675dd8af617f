#pragma once
// Where a hive of the backup goes. The location texts are data from a
// folder anyone may have changed, so a destination is proved to lie inside
// the root before anything is done with it.
#include <windows.h>

#include "revert/backup_hives.h"

constexpr size_t ReasonCapacity = 2 * JoinedPathCapacity + 64;

// The hive's live path without a drive: its location text, and for a
// machine hive config\<name> under the system folder. ERROR_SUCCESS, or the
// error with the reason in words.
DWORD ReadHiveLocation(const BackupHive* hive, wchar_t* location, wchar_t* reason);

// Sets hive->destination to the location under root once it is proved
// inside: the join ends under root, a profile hive keeps its own file name,
// and every folder between root and the file exists and is no link.
DWORD PlaceHive(BackupHive* hive, const wchar_t* root, wchar_t* reason);
