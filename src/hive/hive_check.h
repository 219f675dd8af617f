#pragma once
// The check every hive file gets before zel keeps it, revert puts it back or
// tidy swaps it in: that Windows can load it whole. It reads the file in
// place and never changes it: the base block, every bin and cell of the hive
// bins data (the slack after them is never looked at), and the whole key
// tree from the root cell, each reference landing on an allocated cell of
// the right kind that holds what it claims.
#include <windows.h>

#include "hive/hive.h"

constexpr size_t HiveProblemCapacity = 160;

struct HiveCheckResult {
    bool passed;
    // Dirty: its checksum is wrong or its sequence numbers differ, so its
    // newest changes are in its transaction logs. With a log of its own
    // beside it (needsLogs), Windows replays them when it loads the hive.
    // Without one it fails when the checksum is wrong, since nothing can
    // mend its base block; with a sound base block it passes, since Windows
    // then loads the file as it is, without the changes the logs held.
    bool dirty;
    bool needsLogs;
    bool textFormat;                       // Wine's text form, under Wine
    wchar_t problem[HiveProblemCapacity];  // the first fault and where it lies; "" when passed
};
// dirty, needsLogs and textFormat are false whenever passed is false.

// Judges an open hive: ERROR_SUCCESS with the verdict in *result, or the
// error that kept the file from being read (*result then says nothing).
// Bounded in time and memory by the hive bins data size, whatever they hold.
DWORD HiveJudge(Hive* hive, HiveCheckResult* result);

// Opens, judges and closes. True with *error set to ERROR_SUCCESS when the
// file was checked, whatever the verdict; false with the Win32 error in
// *error when it could not be opened or read, and *result left as it was.
bool CheckHiveFile(const wchar_t* path, HiveCheckResult* result, DWORD* error);
