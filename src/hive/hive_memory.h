#pragma once
// The memory one hive's bytes and check need, a buffer for each use. A
// buffer stays for the next hive the same owner reads, grown when it must:
// the first touch of a fresh page costs more than the read it would hold,
// so an owner that goes over many hives in turn (hive/hive_copy.h) keeps
// one. A hive opened without one has its own, freed when it closes.
#include <windows.h>

#include "shared/heap_array.h"

constexpr size_t HiveArena = 0;  // the hive bins data whole, or the cache's blocks
constexpr size_t HiveStretch = 1;
constexpr size_t HiveBlockTable = 2;
constexpr size_t HiveCellBits = 3;
constexpr size_t HiveBinBits = 4;
constexpr size_t HiveFrames = 5;
constexpr size_t HiveUses = 6;

class HiveMemory {
 public:
    // `size` bytes for `use`, not zeroed; nullptr when memory runs out.
    // What the buffer held before is gone.
    BYTE* Room(size_t use, size_t size) {
        buffers_[use].Clear();
        return buffers_[use].Resize(size);
    }
    BYTE* Zeroed(size_t use, size_t size) {
        BYTE* room = Room(use, size);
        if (room) memset(room, 0, size);
        return room;
    }

 private:
    HeapArray<BYTE> buffers_[HiveUses];
};
