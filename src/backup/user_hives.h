#pragma once
#include <windows.h>

#include "backup/unchanged_links.h"
#include "hive/hive_copy.h"
#include "report/run_result.h"

// Saves every profile's NTUSER.DAT and UsrClass.dat into folder\<SID>, and
// counts each hive into the tally. A hive file byte for byte as in an
// earlier backup of links (nullptr: none) is linked to it, not copied.
void BackupUserHives(const wchar_t* folder, LinkSources* links, HiveTally* tally);

// Saves HKEY_USERS\keyName, or copies livePath when the key is missing, to
// folder\baseName + extension, with `copier` (or nullptr). None when the
// hive is neither loaded nor on disk (a stale profile): then nothing is printed.
HiveOutcome SaveUserHive(const wchar_t* keyName, const wchar_t* livePath, const wchar_t* baseName,
                         const wchar_t* folder, const wchar_t* extension, LinkSources* links,
                         HiveCopier* copier);

// Expands environment references in a 2048-character path buffer in place;
// an expansion that does not fit leaves the buffer as it was.
void ExpandInPlace(wchar_t* path);
