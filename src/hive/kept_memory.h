#pragma once
// Memory the hive room keeps from one hive to the next. The first touch of a
// fresh page costs more than the read it would hold, so the buffers one
// check used (cache blocks, the stretch, the check's bits) stay for the
// next. One open hive at a time holds them; another gets buffers of its own.
#include <windows.h>

// Uses of a buffer; each keeps its own.
constexpr size_t KeptBlocks = 0;  // up to HiveCacheBlocks of them
constexpr size_t KeptStretch = 1024;
constexpr size_t KeptCellBits = 1025;
constexpr size_t KeptBinBits = 1026;
constexpr size_t KeptFrames = 1027;
constexpr size_t KeptUses = 1028;

// Takes the kept buffers for one hive; false while another holds them.
bool TakeKeptMemory();
void ReturnKeptMemory();

// `size` bytes for `use`: the kept buffer when `held` and it is big enough,
// else a new one (which is kept in its place when `held`). Not zeroed;
// nullptr when memory runs out.
BYTE* KeptBuffer(bool held, size_t use, size_t size);
// Done with a buffer KeptBuffer gave: it stays when `held`, goes otherwise.
void DoneWithBuffer(bool held, BYTE* buffer);
