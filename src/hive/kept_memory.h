#pragma once
// Memory the hive room keeps from one hive to the next. The first touch of a
// fresh page costs more than the read it would hold, so the buffers one
// check used (the arena that holds the hive's bytes, the stretch, the
// check's bits) stay for the next. One open hive (or one copy of a hive) at
// a time holds them; another gets buffers of its own.
#include <windows.h>

// Uses of a buffer; each keeps its own.
constexpr size_t KeptArena = 0;  // the hive bins data whole, or the cache's blocks
constexpr size_t KeptStretch = 1;
constexpr size_t KeptCellBits = 2;
constexpr size_t KeptBinBits = 3;
constexpr size_t KeptFrames = 4;
constexpr size_t KeptUses = 5;

// Takes the kept buffers for one hive; false while another holds them.
bool TakeKeptMemory();
void ReturnKeptMemory();

// `size` bytes for `use`: the kept buffer when `held` and it is big enough,
// else a new one (which is kept in its place when `held`). Not zeroed;
// nullptr when memory runs out. Taking the arena forgets the file it held.
BYTE* KeptBuffer(bool held, size_t use, size_t size);
// Done with a buffer KeptBuffer gave: it stays when `held`, goes otherwise.
void DoneWithBuffer(bool held, BYTE* buffer);

// Which file, as it stood, the arena holds the first bytes of: a copy of a
// hive (hive/hive_copy.h) leaves what it wrote there for the check that
// follows, so that the check need not read the file again.
struct HeldFile {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    DWORD sizeHigh;
    DWORD sizeLow;
    FILETIME lastWritten;
};
// Tells who holds the kept buffers that the arena's first `length` bytes are
// those of `file`.
void HoldFile(const HeldFile& file, size_t length);
// The arena, when it holds the first bytes of `file` (*length of them), else
// nullptr; for who holds the kept buffers.
const BYTE* HeldBytesOf(const HeldFile& file, size_t* length);
// The arena holds no file's bytes any more.
void ForgetHeldFile();
// The file an open handle names, as it stands; false when it cannot be told.
bool IdentifyFile(HANDLE file, HeldFile* identity);
