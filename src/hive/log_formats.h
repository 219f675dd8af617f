#pragma once
// The replay of each log format: which log entries or pages apply, in which
// order, and what the recovered base block takes from them. Their bytes are
// gathered as pieces; nothing here keeps page bytes in memory.
#include <windows.h>

#include <stddef.h>

#include "hive/log_files.h"
#include "hive/log_runs.h"

// What the primary file brings to a replay.
struct LogPrimary {
    bool baseValid;  // "regf" and a right checksum
    DWORD sequence;  // its primary and secondary sequence numbers, when baseValid
    DWORD secondarySequence;
};

// What a replay decided besides its pieces.
struct LogPlan {
    bool used;           // a log was replayed, even if it gave no page
    int baseFrom;        // the log whose base block copy stands for a damaged primary's, or -1
    DWORD sequence;      // both sequence numbers of the recovered base block
    DWORD binsDataSize;  // after the replay
    DWORD
    smallestBinsSize;     // the least any applied entry set: the primary's bytes past it are gone
    bool lastEntryFlags;  // bit 0 of the base block's flags comes from the last entry
    DWORD flags;
    DWORD entries;  // entries applied, or pages of the old format
};

// Why a replay stopped, into a buffer of this many characters.
constexpr size_t LogStoppedCapacity = 128;

// New-format logs (LogKind::New): entries applied in sequence-number order
// across the logs, from the one the primary expects next. setAside (or
// nullptr) tells why another log was not used, and stands in when entries
// are missing. A problem goes to stopped; the return value is
// ERROR_SUCCESS or the error of a failed read or allocation.
DWORD ReplayLogEntries(const LogFile* logs, const LogPrimary& primary, const wchar_t* setAside,
                       LogPieces* pieces, LogPlan* plan, wchar_t* stopped);

// The newest old-format log (LogKind::Old): its dirty pages, in groups of
// contiguous pages whose hive bins must be whole.
DWORD ReplayDirtyVector(const LogFile* logs, const LogPrimary& primary, LogPieces* pieces,
                        LogPlan* plan, wchar_t* stopped);
