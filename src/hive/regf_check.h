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

// Every bin and cell of the hive bins data; leaves hive->allocated set.
DWORD CheckBins(Hive* hive, CheckFault* fault);

// The key tree, after CheckBins passed.
DWORD CheckKeyTree(Hive* hive, CheckFault* fault);

// A bit per 8 bytes of the hive bins data, all clear; nullptr when memory
// runs out.
DWORD* NewCellBits(DWORD binsSize);
