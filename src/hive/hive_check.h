#pragma once
// The check every hive file gets before zel keeps it, revert puts it back or
// tidy swaps it in: that Windows can load it whole. It reads the file in
// place and never changes it: the base block, every bin and cell of the hive
// bins data (the slack after them is never looked at), and the whole key
// tree from the root cell, each reference landing on an allocated cell of
// the right kind that holds what it claims.
#include <windows.h>

#include "hive/hive.h"

class HiveMemory;

constexpr size_t HiveProblemCapacity = 256;
constexpr size_t HiveLogsNoteCapacity = 128;

struct HiveCheckResult {
    bool passed;
    // Dirty: its checksum is wrong or its sequence numbers differ, so its
    // newest changes are in its transaction logs, which Windows replays
    // when it loads the hive. So does the check, which then goes over the
    // image the logs recover (needsLogs: the file is that hive only with
    // its logs beside it). Logs that cannot be replayed leave the file as
    // it is: it fails when its checksum is wrong, since nothing can mend
    // its base block, and passes with a sound base block, since Windows
    // then loads it as it is, without the changes the logs held.
    bool dirty;
    bool needsLogs;
    DWORD logEntries;  // log entries replayed; for an old-format log (logPages), 512-byte pages
    bool logPages;
    bool textFormat;                       // Wine's text form, under Wine
    wchar_t problem[HiveProblemCapacity];  // the first fault and where it lies; "" when passed
    // Why a dirty hive's logs were not replayed, or stopped early; "" otherwise.
    wchar_t logsNote[HiveLogsNoteCapacity];
};
// textFormat is false whenever passed is false; the other fields say what
// the verdict went by, whatever it is.

// Checks an open hive: ERROR_SUCCESS with the verdict in *result, or the
// error that kept the file from being read (*result then says nothing).
// Bounded in time and memory by the hive bins data size, whatever they hold.
DWORD CheckHive(Hive* hive, HiveCheckResult* result);

// Opens, checks and closes: ERROR_SUCCESS when the file was checked,
// whatever the verdict, or the Win32 error that kept it from being opened
// or read (*result then left as it was). With `memory` (hive/hive_memory.h),
// the check uses its buffers.
DWORD CheckHiveFile(const wchar_t* path, HiveCheckResult* result, HiveMemory* memory = nullptr);

// For a verdict with needsLogs: "after its logs (4 entries)", "(64 pages)"
// for an old-format log, with why the replay stopped early when it did:
// "after its logs (2 entries; log entry 4 in .LOG2 has a wrong Hash-1)".
void DescribeLogs(const HiveCheckResult& result, wchar_t* text, size_t capacity);
