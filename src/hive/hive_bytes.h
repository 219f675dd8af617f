#pragma once
// The one way the hive room reads a regf file's hive bins data: blocks of
// the file read on demand into a small cache, so that no view or buffer of
// more than 64 MiB is held whatever the hive's size. Offsets count from the
// start of the hive bins data, as cell references do.
//
// An overlay (what replaying a hive's logs gives) can be laid over the file:
// its runs replace the file's bytes where they lie, and may reach past the
// file's end. Readers above never see the difference.
#include <windows.h>

struct HiveOverlayRun {
    DWORD offset;  // from the start of the hive bins data
    DWORD size;
    const BYTE* bytes;
};
struct HiveOverlay {
    const HiveOverlayRun* runs;  // sorted by offset, disjoint
    size_t count;
};

constexpr DWORD HiveBlockShift = 18;
constexpr DWORD HiveBlockBytes = 1u << HiveBlockShift;  // 256 KiB, a multiple of every bin
constexpr DWORD HiveCacheBlocks = 256;                  // 64 MiB at most

struct HiveBlock {
    BYTE* bytes;  // HiveBlockBytes, allocated when first needed
    DWORD index;  // which block of the hive bins data it holds
    bool recent;  // for the clock that picks the block to reuse
};

struct HiveBytes {
    HANDLE file;     // not owned
    DWORD size;      // the hive bins data size; nothing past it is read
    DWORD fileBins;  // how much of it the file holds
    const HiveOverlay* overlay;
    DWORD error;    // the first read failure, ERROR_SUCCESS until then
    DWORD* slotOf;  // per block of the hive bins data: its slot + 1, 0 while not held
    DWORD blocks;   // entries of slotOf
    DWORD hand;     // the clock's hand
    DWORD used;     // slots that hold a block
    HiveBlock slots[HiveCacheBlocks];
};

// Starts reading the hive bins data of `size` bytes from `file`, whose
// length is `fileSize`, with `overlay` (or nullptr) laid over it. False,
// with ERROR_NOT_ENOUGH_MEMORY, when the block table cannot be had.
bool HiveBytesBegin(HiveBytes* bytes, HANDLE file, unsigned long long fileSize, DWORD size,
                    const HiveOverlay* overlay);
void HiveBytesEnd(HiveBytes* bytes);

// Whether every byte of the hive bins data comes from the file or a run.
bool HiveBytesWhole(const HiveBytes* bytes);

// The bytes from `offset` to the end of the block holding it (at least one),
// with *count set to how many; nullptr past the end or when the block
// cannot be read (bytes->error says why then). Valid until the next call.
const BYTE* HiveBytesSpan(HiveBytes* bytes, DWORD offset, DWORD* count);

// Copies `count` bytes from `offset`; false when any lies past the end or
// cannot be read.
bool HiveBytesRead(HiveBytes* bytes, DWORD offset, void* out, DWORD count);
