#pragma once
// The hives of the running system: each loaded hive is saved packed beside
// its live file and, when that is smaller, scheduled to take the file's
// place at the next restart.
#include <windows.h>

#include "shared/path_join.h"
#include "shared/platform.h"
#include "tidy/run_state.h"

constexpr size_t HiveNameCapacity = 256;  // a SID with "_Classes", with room to spare

// One loaded hive.
struct LiveHive {
    wchar_t name[HiveNameCapacity];    // as its line shows it: SYSTEM, DEFAULT, a SID, SID_Classes
    HKEY root;                         // HKEY_LOCAL_MACHINE or HKEY_USERS
    wchar_t subkey[HiveNameCapacity];  // the hive's key under root
    wchar_t file[JoinedPathCapacity];  // its live file
};

// Saves the packed copy to file.tidy-new and checks it. A copy that passed
// and is smaller is scheduled with Platform.regReplaceKey, the live file to be
// kept as file.tidy-<stamp>; any other copy is deleted. With run->dryRun nothing
// is scheduled.
void PackLiveHive(TidyRun* run, const LiveHive& hive, const wchar_t* stamp);
