#pragma once
// What an open hive holds. For the hive room's own files only; everyone
// else sees the calls of hive/hive.h.
#include <windows.h>

#include "hive/hive.h"
#include "hive/hive_bytes.h"
#include "hive/log_replay.h"
#include "hive/regf_layout.h"

struct BinsPass;

enum class HiveKind {
    Regf,      // a regf file; binsSize and root are those of `base`
    WineText,  // Wine's text save, under Wine: it passes its check, and no walk call reads it
    Other      // not a hive that this process can read; `fault` says why
};

struct Hive {
    HiveKind kind;
    FileHandle file;
    unsigned long long fileSize;
    BYTE base[regf::BaseBlockBytes];  // the base block in use: the recovered one after a replay
    bool dirty;                       // its checksum was wrong or its sequence numbers differ
    // A dirty hive's logs replayed; when recovered, `bytes` reads through it.
    LogReplay replay;
    const wchar_t* fault;  // what is wrong with the base block, or nullptr
    DWORD faultAt;         // and where, as a file offset
    DWORD binsSize;
    DWORD root;
    DWORD minor;
    HiveMemory own;  // the buffers of a hive opened without an owner's
    HiveBytes bytes;
    // The pass over the bins that a copy of the file made on the way
    // (hive/hive_copy.cpp), which the check takes instead of its own; or
    // nullptr.
    const BinsPass* passed;
    // While CheckHive walks the key tree: a bit for each allocated cell not
    // yet reached (at its offset / 8), so references are held to cell
    // starts and each cell is reached once; and a bit for each bin's start
    // (at its offset / 4096).
    DWORD* allocated;
    DWORD* binStarts;
};

// HiveOpen with the buffers of `memory` (nullptr: its own), which must
// outlive the hive.
DWORD HiveOpenWith(const wchar_t* path, HiveMemory* memory, Hive** hive);

// A clean regf hive whose file is held whole at `file` (`length` bytes), as
// HiveOpen would open that file, for its check with the buffers of
// `memory` (or its own); nullptr for any other file (or when memory runs out), which
// only HiveOpen may check.
Hive* HiveOpenHeld(const BYTE* file, size_t length, HiveMemory* memory);
