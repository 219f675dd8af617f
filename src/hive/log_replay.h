#pragma once
// A dirty hive's transaction logs replayed in memory, as Windows replays them
// when it loads the hive. The primary file and its logs are only ever read.
//
// The recovered image is the base block below followed by binsDataSize bytes
// of hive bins data. At bins data offset X it holds the byte that the run
// covering X names in its log; else, below primaryBinsBytes, the primary
// file's own byte at file offset 4096 + X; else zero (bins that the logs grew
// and do not carry). The runs name where the logs hold the pages rather than
// holding them: memory stays small whatever the logs carry, and the replay
// keeps the logs open while it lives.
#include <windows.h>

#include <stddef.h>

#include "shared/heap_array.h"
#include "shared/owned_handle.h"

// Pages that the logs carry for the hive bins data; they replace the primary
// file's bytes there.
struct LogRun {
    DWORD offset;  // from the start of the hive bins data
    DWORD size;
    DWORD log;                      // index into LogReplay::logFiles
    unsigned long long fileOffset;  // where the pages' bytes start in that log
};

struct LogReplay {
    // The primary's base block checksum is wrong or its sequence numbers differ.
    bool dirty;
    // The logs were replayed: the image above is what Windows would load.
    // When false, the image is the primary file as it stands.
    bool recovered;
    bool oldFormat;  // the log replayed is of the old format (DIRT vector)
    // Log entries applied, or 512-byte pages of an old-format log.
    DWORD entries;
    DWORD binsDataSize;
    DWORD primaryBinsBytes;  // how much of the hive bins data the primary file gives
    // After a replay: checksum right, both sequence numbers one past the last
    // entry applied (old format: the primary's primary sequence number, or
    // the log's for a damaged primary), the bins data size and the primary
    // file type set. Otherwise the primary's own first 4096 bytes as they are.
    BYTE baseBlock[4096];
    HeapArray<LogRun> runs;  // sorted by offset, disjoint, none past binsDataSize
    // After a replay, .LOG1, .LOG2 and .LOG, open (sharing reads only) while
    // the replay lives.
    FileHandle logFiles[3];
    // Why a dirty hive's replay stopped early or could not be used, as a short
    // English sentence; empty when it ran to the end.
    wchar_t stopped[128];

    LogReplay();
    LogReplay(const LogReplay&) = delete;
    LogReplay& operator=(const LogReplay&) = delete;
};

// Replays the logs beside primaryPath (primaryPath + ".LOG1", ".LOG2" and
// ".LOG"; any may be missing or empty) when the primary is dirty. Returns
// ERROR_SUCCESS when every file could be read, whatever they hold: the
// outcome is in *replay. Otherwise the Win32 error of the failed step
// (ERROR_NOT_ENOUGH_MEMORY when the runs do not fit in memory), with *replay
// empty. Time and memory are bounded by the sizes of the files.
DWORD ReplayHiveLogs(const wchar_t* primaryPath, LogReplay* replay);

// Copies count bytes of the recovered image from file offset `offset` (0 is
// the base block's first byte) into buffer, reading the primary file through
// primary (the caller's own handle) and the logs through logFiles; the file
// pointers move. Fails with ERROR_HANDLE_EOF for bytes past the image's end.
DWORD ReadRecoveredBytes(const LogReplay& replay, HANDLE primary, unsigned long long offset,
                         BYTE* buffer, DWORD count);

// Writes the whole recovered image to target, a new file (ERROR_FILE_EXISTS
// when one is there), in chunks of 1 MiB. On failure no file is left behind.
DWORD WriteRecoveredImage(const LogReplay& replay, const wchar_t* primaryPath,
                          const wchar_t* target);
