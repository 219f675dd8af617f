#pragma once
// The one way the hive room reads a regf file's hive bins data, never
// holding more than 64 MiB of it: a hive whose bins data fit is read whole
// into one buffer (or handed whole by the copy that holds it, see
// hive/hive_copy.h), and readers get its bytes in place; a larger one is
// read in blocks on demand into a cache, or in stretches for a pass in
// order. Offsets count from the start of the hive bins data, as cell
// references do. The buffers are those of a hive/hive_memory.h owner.
//
// A replay of the hive's logs (hive/log_replay.h) can be laid over the file,
// which then reads as the recovered image: the replay's runs, read from the
// logs, take the place of the file's bytes where they lie; past what the
// primary file gives, the bytes are zero. Readers above never see the
// difference.
#include <windows.h>

#include "hive/hive_memory.h"
#include "hive/log_replay.h"
#include "hive/regf_layout.h"

// The most of a hive's bytes held in memory at a time.
constexpr DWORD HiveArenaBytes = 64u << 20;
// A hive whose base block and hive bins data fit in that is held whole
// (Platform.hiveWholeLimit says how much, which tests lower).
constexpr DWORD HiveWholeBytes = HiveArenaBytes - regf::BaseBlockBytes;
// Blocks for reads anywhere in a larger hive, and stretches for reads in
// order; both are multiples of 4 KiB, so they never cut a bin's header or a
// cell's size.
constexpr DWORD HiveBlockShift = 18;
constexpr DWORD HiveBlockBytes = 1u << HiveBlockShift;  // 256 KiB
constexpr DWORD HiveCacheBlocks = HiveArenaBytes / HiveBlockBytes;
constexpr DWORD HiveStretchBytes = 256 * 1024;

struct HiveBlock {
    BYTE* bytes;  // in the arena
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
    HiveMemory* memory;               // not owned
    bool whole;                       // the hive is held whole, at `image` once read
    const BYTE* image;                // the hive bins data whole, or nullptr
    BYTE* arena;                      // the image (after room for a base block), or the blocks
    // The cache of a hive not held whole.
    DWORD* slotOf;  // per block of the hive bins data: its slot + 1, 0 while not held
    DWORD blocks;   // entries of slotOf
    DWORD slotCount;
    DWORD hand;  // the clock's hand
    DWORD used;  // slots that hold a block
    HiveBlock slots[HiveCacheBlocks];
    BYTE* stretch;  // HiveStretchBytes, for reads in order
    DWORD stretchStart;
    DWORD stretchLength;  // 0 while it holds nothing
};

// Starts reading the hive bins data of `size` bytes from `file`, whose
// length is `fileSize`, with `replay` (or nullptr), which must outlive the
// reading, laid over it, into the buffers of `memory`. False, with
// ERROR_NOT_ENOUGH_MEMORY, when the block table cannot be had.
bool HiveBytesBegin(HiveBytes* bytes, HiveMemory* memory, HANDLE file, unsigned long long fileSize,
                    DWORD size, const LogReplay* replay);
// Starts reading hive bins data of `size` bytes held whole at `image`.
void HiveBytesBeginHeld(HiveBytes* bytes, HiveMemory* memory, const BYTE* image, DWORD size);

// Whether the file (or the replay laid over it) gives every byte of the
// hive bins data.
bool HiveBytesWhole(const HiveBytes* bytes);

// For a pass that reads the hive bins data in order: the bytes
// from `offset` on (at least one), with *count set to how many; through the
// cache when it holds the whole hive, else a stretch of the file at once.
// nullptr past the end or when a read fails (bytes->error says why then).
// Valid until the next call.
const BYTE* HiveBytesInOrder(HiveBytes* bytes, DWORD offset, DWORD* count);

// HiveBytesView when the bytes are not in place in a whole hive.
const BYTE* HiveBytesGather(HiveBytes* bytes, DWORD offset, DWORD count, BYTE* local);

// The `count` bytes from `offset`: in place when they lie in one block (or
// the hive is held whole); else, when `local` (which holds `count`) is
// given, copied into it, zeros standing for what lies past the end.
// nullptr when `offset` lies past it, a read fails, or the bytes are not in
// one piece and there is no `local`. Valid until the next call.
inline const BYTE* HiveBytesView(HiveBytes* bytes, DWORD offset, DWORD count, BYTE* local) {
    if (bytes->image && offset < bytes->size && count <= bytes->size - offset) {
        return bytes->image + offset;
    }
    return HiveBytesGather(bytes, offset, count, local);
}

// Asks for the bytes at `offset` ahead of their use, when they are in memory
// already; costs nothing else.
inline void HiveBytesAhead(const HiveBytes* bytes, DWORD offset) {
    if (offset >= bytes->size) return;
    if (bytes->image) {
        __builtin_prefetch(bytes->image + offset);
    } else if (bytes->slotOf) {
        if (const DWORD slot = bytes->slotOf[offset >> HiveBlockShift]) {
            __builtin_prefetch(bytes->slots[slot - 1].bytes + (offset & (HiveBlockBytes - 1)));
        }
    }
}

// Copies `count` bytes from `offset`; false when any lies past the end or
// cannot be read.
bool HiveBytesRead(HiveBytes* bytes, DWORD offset, void* out, DWORD count);
