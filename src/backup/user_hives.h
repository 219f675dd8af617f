#pragma once
#include <windows.h>

#include "backup/unchanged_links.h"
#include "hive/hive_copy.h"
#include "report/run_result.h"

// Saves every profile's NTUSER.DAT and UsrClass.dat into folder\<SID>, and
// counts each hive into the tally. A hive file byte for byte as in an
// earlier backup of links (nullptr: none) is linked to it, not copied.
void BackupUserHives(const wchar_t* folder, LinkSources* links, HiveTally* tally);
