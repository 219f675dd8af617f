#pragma once
#include <windows.h>

#include "revert/backup_hives.h"

constexpr size_t CheckWordsCapacity = 1024;

// A hive file's check in the words of the listing: "passed", "passed after
// its logs (4 entries)", "passed, dirty without usable logs (<why>)",
// "passed, Wine text hive", "failed: <problem>" or "not checked [<system
// text>]". True when it passed; *dirty as the check found it.
bool DescribeCheck(const wchar_t* path, wchar_t* words, bool* dirty);

enum class PlanUse {
    Show,     // a line for each hive: its check and where it goes
    Restore,  // the refusals alone, each hive checked
    Undo,     // the refusals alone, no hive checked
};

// Finds the backup's hives, checks each (but for an undo), and places each
// under root: proved inside it and outside the backup, and the journal too.
// A listing without a root reads each location alone. Any two hives whose
// places are one file are refused. True only when there is a hive and
// nothing was refused: then, and only then, may anything be changed; and a
// listing with a root answers exactly as the restore under that root would.
bool PlanHives(HiveTable* list, const wchar_t* root, PlanUse use);
