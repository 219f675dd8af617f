#pragma once
#include <windows.h>

#include "revert/backup_hives.h"
#include "revert/run_state.h"

constexpr size_t CheckWordsCapacity = 1024;

// A hive file's check in the words of the listing: "passed", "passed after
// its logs (4 entries)", "passed, dirty without usable logs (<why>)",
// "passed, Wine text hive", "failed: <problem>" or "not checked [<system
// text>]". True when it passed; *dirty as the check found it.
bool DescribeCheck(const wchar_t* path, wchar_t* words, bool* dirty);

enum class PlanUse {
    Show,     // a line for each hive: its check and where it goes
    Restore,  // the refusals alone, each hive checked
};

enum class PlanOutcome {
    Go,            // nothing refused: then, and only then, may anything be changed
    HivesRefused,  // only hives of their own (hive->refused): the rest could go
    Refused,       // also what every hive needs: the listing, the journal
};

// Checks each chosen hive of the run's listed backup and places it under root:
// proved inside it and outside the backup, and the journal too. A listing
// without a root reads each location alone. Any two hives whose places are
// one file are refused. Go only when there is a hive: a listing with a root
// answers exactly as the restore under that root would.
PlanOutcome PlanHives(RevertRun* run, const wchar_t* root, PlanUse use);

// Places the run's journal under root, as PlanHives does; false after
// saying why.
bool PlanJournal(RevertRun* run, const wchar_t* root);

// For the undo of the restore under stamp in the run's journal read: places,
// unchecked, each hive not placed yet whose place that restore named, and
// refuses (saying "Nothing was changed") a place where it kept files that no
// hive of this backup has, or a hive that has no place now. True when
// nothing was refused.
bool PlanKeptHives(RevertRun* run, const wchar_t* root, const wchar_t* stamp);
