#pragma once
// The pages a replay applies, gathered in the order it applies them, and the
// runs they make: where pages overlap, the one applied last wins.
#include <windows.h>

#include <stddef.h>

#include "hive/log_replay.h"
#include "shared/heap_array.h"

struct LogPiece {
    DWORD offset;  // in the hive bins data; offset and size are whole 512-byte pages
    DWORD size;
    unsigned long long fileOffset;  // where its bytes sit in the log
    DWORD log;                      // index of that log
};

// A log entry's start among the pieces, with the hive bins data size it
// sets: a smaller size drops the bins past it, a larger one grows them.
struct LogEntryMark {
    DWORD binsSize;
    size_t firstPiece;
};

struct LogPieces {
    HeapArray<LogPiece> pieces;
    HeapArray<LogEntryMark> entries;
};

// Both false when memory runs out.
bool BeginLogEntry(LogPieces* list, DWORD binsSize);
bool AddLogPiece(LogPieces* list, DWORD offset, DWORD size, DWORD log,
                 unsigned long long fileOffset);
// Takes back the last entry begun and its pieces.
void DropLastLogEntry(LogPieces* list);

// Fills replay->runs from the pieces for hive bins data of binsDataSize
// bytes. ERROR_SUCCESS or ERROR_NOT_ENOUGH_MEMORY; replay->runs is empty
// unless it succeeds.
DWORD BuildLogRuns(const LogPieces& list, DWORD binsDataSize, LogReplay* replay);
