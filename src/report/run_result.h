#pragma once
// What one dated run did, handed back to whoever started it: how it ended,
// the error of the step that stopped it, the tally of its hives, and the
// day's folder.
#include <windows.h>

#include "shared/heap_array.h"
#include "shared/path_join.h"

// How a run ended, besides what its hives and steps tell.
enum class RunEnd {
    Made,       // a backup was made, or a step stopped the run
    Stands,     // today's backup stands already
    UnderWay,   // another run holds the lock
    NameTaken,  // today's name holds something that is not a backup
    NotKept,    // the new backup lacked hives that today's backup holds, and today's stays
};

// What became of one hive the run tried.
enum class HiveOutcome {
    Saved,   // saved or copied, and it passed its check
    Failed,  // its line is a failure
    None,    // nothing to back up, or a failure the system is expected to have: not counted
};

constexpr size_t FailedNamesCapacity = 1024;

// The hives of a run, counted as each one's outcome is decided.
struct HiveTally {
    DWORD reported = 0;  // hives with a line
    DWORD failed = 0;    // those whose line is a failure
    // The failed hives' names, separated by ", " (cut with "..." when they do
    // not fit).
    wchar_t failedNames[FailedNamesCapacity] = {};
    // Each saved hive's name with its terminator, in the order of the run.
    HeapArray<wchar_t> savedNames;
    bool savedNamesWhole = true;  // false once memory ran out for a name
};

void CountHive(HiveTally* tally, const wchar_t* name, HiveOutcome outcome);

// "N of M hives saved".
void FormatHiveSummary(const HiveTally& tally, wchar_t* line, size_t capacity);

struct RunResult {
    RunEnd end = RunEnd::Made;
    // The Win32 error of the step that stopped the run (the lock, the work
    // folder, sysdir.txt, the final rename, the log); ERROR_SUCCESS when none did.
    DWORD stepError = ERROR_SUCCESS;
    HiveTally hives;
    // The day's folder, made, found or refused; empty when the run stopped
    // before its name was formed.
    wchar_t folder[RootPathCapacity] = {};
    int exitStatus = 0;
};
