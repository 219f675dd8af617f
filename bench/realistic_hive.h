// A regf hive of realistic shape for the benchmarks, written from nothing:
// keys in a tree a few levels deep, most with few subkeys and some with
// thousands (under an index root); about three values a key, mostly short
// strings and DWORDs, some binary, a few big enough for big data; shared
// security cells; class names on a few keys; free cells here and there; and
// slack after the bins, as Windows grows a file in 256 KiB steps. Cells go
// into 4 KiB bins in the order the keys were made, but a share of the keys
// lands in bins taken later, as in a hive that changed over years.
#pragma once

#include <windows.h>

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
