#pragma once
// Where a hive of the backup goes. The location texts are data from a
// folder anyone may have changed, so a destination is proved to lie inside
// the root, and outside the backup itself, before anything is done with it.
#include <windows.h>

#include "revert/backup_hives.h"

constexpr size_t ReasonCapacity = 2 * JoinedPathCapacity + 64;

// ERROR_SUCCESS when neither folder nor any folder above it is `backup`;
// ERROR_BAD_PATHNAME when one is, with the reason in words.
DWORD CheckOutsideBackup(const wchar_t* folder, const FileIdentity& backup, wchar_t* reason);

// The hive's live path without a drive: its location text, and for a
// machine hive config\<name> under the system folder. ERROR_SUCCESS, or the
// error with the reason in words.
DWORD ReadHiveLocation(const BackupHive* hive, wchar_t* location, wchar_t* reason);

// Sets hive->destination to the location under root once it is proved
// inside: the join ends under root, a profile hive keeps its own file name,
// and every folder between root and the file exists, is no link and is not
// the backup folder. hive->folder gets the identity of the file's folder,
// unless that is the root itself.
DWORD PlaceHive(BackupHive* hive, const wchar_t* root, const FileIdentity& backup, wchar_t* reason);

// The destination from the backslash after root on ("\Windows\system32\..."):
// the same whatever drive the installation is seen on.
const wchar_t* BelowRoot(const wchar_t* destination, const wchar_t* root);
