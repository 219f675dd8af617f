#pragma once
// What this run of tidy was asked to do and how it has gone so far.

constexpr int ExitDone = 0;     // every hive was packed, passed over or left as it is
constexpr int ExitRefused = 1;  // the command line was refused; nothing was done
constexpr int ExitFailed = 2;   // the run failed in whole or in part

extern bool DryRun;        // /n: measure every hive, change nothing
extern bool RunFailed;     // some hive, or the whole run, failed
extern int ScheduledHives; // hives that a restart replaces with their packed copy

// The hives that got a size line: as they were, and as they are (or, online,
// will be after the restart, or with /n would be).
extern unsigned long long TotalBefore;
extern unsigned long long TotalAfter;
