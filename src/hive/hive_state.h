#pragma once
// What an open hive holds. For the hive room's own files only; everyone
// else sees the calls of hive/hive.h.
#include <windows.h>

#include "hive/hive.h"
#include "hive/hive_bytes.h"
#include "hive/log_replay.h"
#include "hive/regf_layout.h"

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
    HiveBytes bytes;
    // While HiveJudge walks the key tree: a bit for each allocated cell not
    // yet reached (at its offset / 8), so references are held to cell
    // starts and each cell is reached once; and a bit for each bin's start
    // (at its offset / 4096).
    DWORD* allocated;
    DWORD* binStarts;
};

// A clean regf hive whose file is held whole at `file` (`length` bytes), as
// HiveOpen would open that file, for its check; nullptr for any other file
// (or when memory runs out), which only HiveOpen may judge.
Hive* HiveOpenHeld(const BYTE* file, size_t length);
