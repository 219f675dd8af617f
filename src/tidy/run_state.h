#pragma once
// tidy's process-wide values: what this run was asked to do and how it has
// gone so far.
#include "shared/exit_status.h"

// Files tidy replaces are kept as NAME.tidy-YYYYMMDD-HHMMSS.
constexpr const wchar_t* TidyTag = L"tidy";

extern bool DryRun;         // /n: measure every hive, change nothing
extern bool RunFailed;      // some hive, or the whole run, failed
extern int ScheduledHives;  // hives that a restart replaces with their packed copy

// The hives that got a size line: as they were, and as they are (or, online,
// will be after the restart, or with /n would be).
extern unsigned long long TotalBefore;
extern unsigned long long TotalAfter;
