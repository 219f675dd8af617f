#pragma once
// The one way the hive room reads a regf file's hive bins data: blocks of
// the file read on demand into a small cache, or stretches read in order
// into one buffer, so that no view or buffer of more than 64 MiB is held
// whatever the hive's size. Offsets count from the start of the hive bins
// data, as cell references do.
//
// A replay of the hive's logs (hive/log_replay.h) can be laid over the file,
// which then reads as the recovered image: the replay's runs, read from the
// logs, take the place of the file's bytes where they lie; past what the
// primary file gives, the bytes are zero. Readers above never see the
// difference.
#include <windows.h>

#include "hive/log_replay.h"

// Blocks for reads anywhere, and stretches for reads in order; both are
// multiples of 4 KiB, so they never cut a bin's header or a cell's size.
constexpr DWORD HiveBlockShift = 16;
constexpr DWORD HiveBlockBytes = 1u << HiveBlockShift;  // 64 KiB
constexpr DWORD HiveCacheBlocks = 1024;                 // 64 MiB at most, taken as needed
constexpr DWORD HiveStretchBytes = 256 * 1024;

struct HiveBlock {
    BYTE* bytes;  // HiveBlockBytes, allocated when first needed
    DWORD index;  // which block of the hive bins data it holds
    bool recent;  // for the clock that picks the block to reuse
};

struct HiveBytes {
    HANDLE file;                      // not owned
    unsigned long long filePosition;  // where the file pointer stands, when known
    DWORD size;                       // the hive bins data size; nothing past it is read
    DWORD fileBins;                   // how much of it the file holds
    const LogReplay* replay;          // or nullptr
    DWORD error;                      // the first read failure, ERROR_SUCCESS until then
    DWORD* slotOf;  // per block of the hive bins data: its slot + 1, 0 while not held
    DWORD blocks;   // entries of slotOf
    DWORD hand;     // the clock's hand
    DWORD used;     // slots that hold a block
    HiveBlock slots[HiveCacheBlocks];
    BYTE* stretch;  // HiveStretchBytes, for reads in order
    DWORD stretchStart;
    DWORD stretchLength;  // 0 while it holds nothing
    bool kept;            // its buffers are the ones kept from hive to hive
    BYTE* scratch[3];     // for the check, by use (hive/kept_memory.h)
};

// Starts reading the hive bins data of `size` bytes from `file`, whose
// length is `fileSize`, with `replay` (or nullptr), which must outlive the
// reading, laid over it. False, with ERROR_NOT_ENOUGH_MEMORY, when the block
// table cannot be had.
bool HiveBytesBegin(HiveBytes* bytes, HANDLE file, unsigned long long fileSize, DWORD size,
                    const LogReplay* replay);
void HiveBytesEnd(HiveBytes* bytes);

// Whether the file (or the replay laid over it) gives every byte of the
// hive bins data.
bool HiveBytesWhole(const HiveBytes* bytes);

// The bytes from `offset` to the end of the block holding it (at least one),
// with *count set to how many; nullptr past the end or when the block
// cannot be read (bytes->error says why then). Valid until the next call.
const BYTE* HiveBytesSpan(HiveBytes* bytes, DWORD offset, DWORD* count);

// The same for a pass that reads the hive bins data in order: through the
// cache when it holds the whole hive, else a stretch of the file at once.
const BYTE* HiveBytesInOrder(HiveBytes* bytes, DWORD offset, DWORD* count);

// `size` bytes, zeroed, for one of the check's uses in hive/kept_memory.h
// (KeptCellBits and after); nullptr when memory runs out. They go with the
// bytes.
BYTE* HiveBytesScratch(HiveBytes* bytes, size_t use, size_t size);

// The `count` bytes from `offset`: in place when they lie in one block,
// else copied into `local` (which holds `count`), zeros standing for what
// lies past the end. nullptr when `offset` lies past it or a read fails.
const BYTE* HiveBytesView(HiveBytes* bytes, DWORD offset, DWORD count, BYTE* local);

// Copies `count` bytes from `offset`; false when any lies past the end or
// cannot be read.
bool HiveBytesRead(HiveBytes* bytes, DWORD offset, void* out, DWORD count);
