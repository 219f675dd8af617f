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
// nullptr when memory runs out. Taking a buffer that holds part of a copied
// file (see HeldCopy below) forgets that part.
BYTE* KeptBuffer(bool held, size_t use, size_t size);
// Done with a buffer KeptBuffer gave: it stays when `held`, goes otherwise.
void DoneWithBuffer(bool held, BYTE* buffer);

// A file as it stood: which one, how long, when last written.
struct HeldFile {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    DWORD sizeHigh;
    DWORD sizeLow;
    FILETIME lastWritten;
};
// The file an open handle names, as it stands; false when it cannot be told.
bool IdentifyFile(HANDLE file, HeldFile* identity);

// What the kept buffers hold of a hive file the hive room copied
// (hive/hive_copy.h), for the check that follows: the file's first bytes in
// the arena and, when the copy could go over its bins on the way, that
// pass's marks in the cell bits and bin bits, and its verdict; or, for a
// clean hive held whole, the verdict of both passes of the check.
struct HeldCopy {
    HeldFile file;
    size_t length;           // bytes of the file the arena holds from its start; 0: none
    DWORD passedSize;        // the hive bins data size the pass went by; 0: no pass
    const wchar_t* problem;  // the first fault the pass found, or nullptr
    DWORD problemAt;         // where, from the start of the hive bins data
    DWORD judgedSize;        // the hive bins data size the whole check went by; 0: none
    // Its first fault (problem nullptr when none), as hive/regf_check.h tells it.
    const wchar_t* judgedSubject;
    const wchar_t* judgedProblem;
    unsigned long long judgedAt;
};
// For who holds the kept buffers: what they now hold of a copied file; what
// they hold of `file` (nullptr when they hold another's, or nothing); and
// that they hold nothing of any.
void HoldCopy(const HeldCopy& copy);
const HeldCopy* HeldCopyOf(const HeldFile& file);
void ForgetHeldCopy();
// The kept buffer for `use` as it is, what it holds left alone.
BYTE* KeptAsItIs(size_t use);
