// A regf hive of realistic shape for the benchmarks, written from nothing:
// keys in a tree a few levels deep, most with few subkeys and some with
// thousands (under an index root); about three values a key, mostly short
// strings and DWORDs, some binary, a few big enough for big data; shared
// security cells; class names on a few keys; free cells here and there; and
// slack after the bins, as Windows grows a file in 256 KiB steps. Cells go
// into 4 KiB bins in the order the keys were made, but a share of the keys
// lands in bins taken later, as in a hive that changed over years. The
// same hive also comes dirty, with transaction logs as Windows writes them.
#pragma once

#include <windows.h>

#include <vector>

struct RealisticHive {
    DWORD keys;
    DWORD values;
    DWORD binsBytes;
};

// Writes a hive whose hive bins data reaches at least `mebibytes` MiB (when
// not 0), or which holds `keys` keys. False when the file cannot be written.
bool WriteRealisticHive(const wchar_t* path, unsigned mebibytes, DWORD keys, RealisticHive* made);

// Writes the hive WriteRealisticHive made last with `changes` changes: nine
// in ten a DWORD value's data, one in ten a key's name, spread over the
// hive. False when it holds too few of them or the file cannot be written.
bool WriteChangedHive(const wchar_t* path, DWORD changes);

// The hive WriteRealisticHive made last, `changes` DWORD values later (at
// least 4), as Windows leaves a hive it had not written back: the primary
// file at `path` as it was, its sequence numbers one apart, and the changes
// in its transaction logs. New format: four HvLE entries of the changed
// 4 KiB pages with their Marvin32 hashes, two in .LOG1 and two in .LOG2.
// Old format: .LOG1 holds the base block's first sector, the DIRT vector
// and the changed pages, 512 bytes a bit; .LOG2 is empty. `recovered` gets
// the hive as its logs leave it, a clean file of the same length. False
// when a file cannot be written.
bool WriteDirtyHive(const wchar_t* path, bool oldFormat, DWORD changes, const wchar_t* recovered);

// Pages of the hive bins data that a log carries: `size` bytes from `offset`.
struct LogPage {
    DWORD offset;
    const BYTE* bytes;
    DWORD size;
};
constexpr DWORD LogPageBytes = 4096;

// A new-format log entry carrying `pages`, its size rounded up to 512 bytes
// and its hashes made.
std::vector<BYTE> NewLogEntry(DWORD sequence, DWORD binsBytes, const std::vector<LogPage>& pages);
