#pragma once
#include "backup/unchanged_links.h"
#include "report/run_result.h"

// Starts the system's bcdedit.exe /enum and waits for it, which loads the
// boot store, so that it shows among the loaded hives.
void StartBcdEdit();

// Saves the boot store into folder\BCD and writes bcd.txt, which tells a
// restore where the store lives; counts the hive into the tally.
void SaveBootStore(const wchar_t* folder, HiveTally* tally);

// The hive half of a backup into folder: the boot store, the machine hives
// the system has, then the profile hives; each one counted into the tally.
// A profile hive byte for byte as in an earlier backup of links (which may
// be nullptr) is linked instead of copied.
void BackupAllHives(const wchar_t* folder, LinkSources* links, HiveTally* tally);
