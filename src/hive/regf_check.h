#pragma once
// The two passes of a regf hive's check, for hive_check.cpp: over the bins
// in file order, then over the key tree from the root cell. Each returns a
// read error, or ERROR_SUCCESS with the first fault it met in *fault (whose
// problem stays nullptr when there was none).
#include "hive/hive_state.h"

constexpr unsigned long long NoFileOffset = ~0ull;

struct CheckFault {
    const wchar_t* subject;  // what was looked at ("subkey", "value data"), or nullptr
    const wchar_t* problem;  // what is wrong with it
    unsigned long long at;   // where, as a file offset, or NoFileOffset
};

// Every bin and cell of the hive bins data; sets hive->allocated and
// hive->binStarts.
DWORD CheckBins(Hive* hive, CheckFault* fault);

// The key tree, after CheckBins passed; clears the bits of the cells it
// reaches.
DWORD CheckKeyTree(Hive* hive, CheckFault* fault);

// Whether `at`, whose bit is clear, starts an allocated cell that the walk
// of the key tree reached before. Slow; for telling a fault.
bool ReachedBefore(Hive* hive, DWORD at);

// Frees what the passes leave in the hive.
void EndCheck(Hive* hive);
