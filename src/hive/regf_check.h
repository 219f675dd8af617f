#pragma once
// The two passes of a regf hive's check, for hive_check.cpp: over the bins
// in file order, then over the key tree from the root cell. Each returns a
// read error, or ERROR_SUCCESS with the first fault it met in *fault (whose
// problem stays nullptr when there was none).
#include "hive/hive_check.h"
#include "hive/hive_state.h"

constexpr unsigned long long NoFileOffset = ~0ull;

struct CheckFault {
    const wchar_t* subject;  // what was looked at ("subkey", "value data"), or nullptr
    const wchar_t* problem;  // what is wrong with it
    unsigned long long at;   // where, as a file offset, or NoFileOffset
};

// Every bin and cell of the hive bins data; sets hive->allocated and
// hive->binStarts. The pass a copy of the file made on the way
// (hive->passed) counts instead, with its marks and verdict.
DWORD CheckBins(Hive* hive, CheckFault* fault);

// The pass over the bins, fed the hive bins data in order: the bins tile
// them, and the cells tile each bin. Marks where the bins start (a bit per
// 4096 bytes) and where the allocated cells start (a bit per 8 bytes).
struct BinsPass {
    DWORD size;  // of the hive bins data
    DWORD at;    // the next bin or cell
    DWORD binEnd;
    DWORD* allocated;        // zeroed, size / 256 + 1 of them
    DWORD* binStarts;        // zeroed, size / 4096 / 32 + 1 of them
    const wchar_t* problem;  // the first fault, or nullptr
    DWORD problemAt;         // where, from the start of the hive bins data
    bool lost;               // it was fed out of order, and tells nothing
};
void StartBinsPass(BinsPass* pass, DWORD size, DWORD* allocated, DWORD* binStarts);
// Goes on over the `count` bytes at `bytes`, which are those from `first` on
// and follow what it was fed before. Feeds that end on a multiple of 4096
// never cut a bin's header or a cell's size. False once it needs no more:
// it reached the end or a fault.
bool FeedBinsPass(BinsPass* pass, const BYTE* bytes, DWORD first, DWORD count);

// The key tree, after CheckBins passed; clears the bits of the cells it
// reaches.
DWORD CheckKeyTree(Hive* hive, CheckFault* fault);

// Whether `at`, whose bit is clear, starts an allocated cell that the walk
// of the key tree reached before. Slow; for telling a fault.
bool ReachedBefore(Hive* hive, DWORD at);

// Frees what the passes leave in the hive.
void EndCheck(Hive* hive);

// The check of a clean hive whose file is held whole (HiveOpenHeld), with
// the buffers of `memory`: false when it is no such hive or could not be
// checked; else true, with the verdict CheckHive gives that file.
bool CheckHeldHive(const BYTE* file, size_t length, HiveMemory* memory, HiveCheckResult* verdict);
