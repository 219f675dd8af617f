#pragma once
// Where things sit in a regf file, as the public description of the format
// gives them: the base block, the hive bins and the cells in them, and the
// two transaction log formats. Numbers only; no code here reads a file.
#include <windows.h>

#include <string.h>

namespace regf {

// The base block: the first 4096 bytes of a primary file and of a log.
constexpr DWORD BaseBlockBytes = 4096;
constexpr DWORD SignatureOffset = 0;  // "regf"
constexpr DWORD PrimarySequenceOffset = 4;
constexpr DWORD SecondarySequenceOffset = 8;
constexpr DWORD LastWrittenOffset = 12;  // FILETIME
constexpr DWORD MajorVersionOffset = 20;
constexpr DWORD MinorVersionOffset = 24;
constexpr DWORD FileTypeOffset = 28;
constexpr DWORD FileFormatOffset = 32;
constexpr DWORD RootCellOffset = 36;  // relative to the start of the hive bins data
constexpr DWORD BinsDataSizeOffset = 40;
constexpr DWORD ClusteringFactorOffset = 44;
constexpr DWORD ChecksumOffset = 508;  // XOR of the 127 DWORDs before it
constexpr DWORD BootTypeOffset = 4088;
constexpr DWORD BootRecoverOffset = 4092;

constexpr DWORD FileTypePrimary = 0;
constexpr DWORD FileTypeLog = 1;             // the old log format: base block, DIRT vector, pages
constexpr DWORD FileTypeLogNew = 6;          // the new log format: base block, HvLE entries
constexpr DWORD FileTypeLogWindows2000 = 2;  // the old format as Windows 2000 marks it

// Hive bins: 4096-byte multiples that tile the hive bins data.
constexpr DWORD BinAlignment = 4096;
constexpr DWORD BinHeaderBytes = 32;  // "hbin", offset, size, reserved, timestamp, spare
constexpr DWORD CellAlignment = 8;

// Offsets of cells are relative to the start of the hive bins data, which
// follows the base block; this value in a reference field means "none".
constexpr DWORD NoCell = 0xFFFFFFFF;

// A hive bin's header: "hbin", then these.
constexpr DWORD BinOffsetField = 4;  // the bin's own offset in the hive bins data
constexpr DWORD BinSizeField = 8;

// Stable storage: a cell reference has its top bit clear, so the hive bins
// data of a file stays below 2 GiB.
constexpr DWORD MaxBinsDataSize = 0x80000000;

// Every cell starts with its size (negative while allocated); the offsets
// below count from the cell's start, that size field included.
constexpr DWORD CellSizeBytes = 4;

// Key node "nk".
constexpr DWORD KeyFlags = 6;
constexpr DWORD KeyLastWritten = 8;
constexpr DWORD KeyParent = 20;
constexpr DWORD KeySubkeyCount = 24;
constexpr DWORD KeySubkeyList = 32;  // the volatile count and list (28, 36) are not on disk
constexpr DWORD KeyValueCount = 40;
constexpr DWORD KeyValueList = 44;
constexpr DWORD KeySecurity = 48;
constexpr DWORD KeyClass = 52;
constexpr DWORD KeyNameLength = 76;   // WORD, in bytes
constexpr DWORD KeyClassLength = 78;  // WORD, in bytes
constexpr DWORD KeyName = 80;
constexpr WORD KeyCompressedName = 0x0020;  // the name is Latin-1, one byte a character

// Subkey lists: "lf" and "lh" (an offset and a hint or hash per subkey),
// "li" (an offset per subkey) and "ri" (an offset per lf, lh or li).
constexpr DWORD ListCount = 6;  // WORD
constexpr DWORD ListEntries = 8;

// Key value "vk".
constexpr DWORD ValueNameLength = 6;  // WORD, in bytes
constexpr DWORD ValueDataSize = 8;
constexpr DWORD ValueData = 12;  // a cell, or the data itself (see ValueDataInline)
constexpr DWORD ValueType = 16;
constexpr DWORD ValueFlags = 20;  // WORD
constexpr DWORD ValueName = 24;
constexpr WORD ValueCompressedName = 0x0001;
constexpr DWORD ValueDataInline = 0x80000000;  // in the size: up to 4 bytes held in ValueData

// Key security "sk".
constexpr DWORD SecurityDescriptorSize = 20;
constexpr DWORD SecurityDescriptor = 24;

// Big data "db": a list of segments, each a cell of up to 16344 bytes, all
// full but the last. Hives of minor version 4 and later store a value of
// more than one segment's bytes so.
constexpr DWORD BigDataSegmentCount = 6;  // WORD
constexpr DWORD BigDataSegmentList = 8;
constexpr DWORD BigDataHeaderBytes = 12;
constexpr DWORD BigDataSegmentBytes = 16344;
constexpr DWORD BigDataMinorVersion = 4;

// A log begins with a copy of the first sector of the base block (512 bytes
// times the clustering factor for the old format, always 512 for the new);
// what follows starts at the second sector.
constexpr DWORD LogSectorBytes = 512;
constexpr DWORD MaxClusteringFactor = 8;  // 4096-byte sectors
constexpr DWORD BaseBlockFlagsOffset = 144;
constexpr DWORD FirstBinTimestampOffset = 20;  // in the first bin's header

// The old log format: at the second sector, "DIRT" and one bit per 512-byte
// page of the hive bins data (the lowest bit of each byte first), then, from
// the next sector on, the dirty pages in order.
constexpr DWORD OldLogPageBytes = 512;
constexpr DWORD DirtyVectorHeaderBytes = 4;  // "DIRT"

// The new log format: from the second sector, entries that start with "HvLE",
// each a multiple of 512 bytes: a header, page references, then the pages.
constexpr DWORD LogEntryAlignment = 512;
constexpr DWORD LogEntrySizeOffset = 4;
constexpr DWORD LogEntryFlagsOffset = 8;  // bit 0 goes to the base block's flags
constexpr DWORD LogEntrySequenceOffset = 12;
constexpr DWORD LogEntryBinsSizeOffset = 16;
constexpr DWORD LogEntryPageCountOffset = 20;
constexpr DWORD LogEntryHash1Offset = 24;  // Marvin32 of the entry from its first reference on
constexpr DWORD LogEntryHash2Offset = 32;  // Marvin32 of the entry's first 32 bytes
constexpr DWORD LogEntryHeaderBytes = 40;
constexpr DWORD LogPageReferenceBytes = 8;  // offset in the hive bins data, size
// The bytes 82 EF 4D 88 7A 4E 55 C5 taken as one number, most significant
// first: the logs Windows writes verify with this value, not with those
// bytes read in little-endian order.
constexpr unsigned long long LogEntryHashSeed = 0x82EF4D887A4E55C5ull;

inline DWORD ReadDword(const BYTE* bytes) {
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

inline WORD ReadWord(const BYTE* bytes) { return static_cast<WORD>(bytes[0] | bytes[1] << 8); }

inline unsigned long long ReadQword(const BYTE* bytes) {
    return static_cast<unsigned long long>(ReadDword(bytes + 4)) << 32 | ReadDword(bytes);
}

inline void WriteDword(BYTE* bytes, DWORD value) {
    bytes[0] = static_cast<BYTE>(value);
    bytes[1] = static_cast<BYTE>(value >> 8);
    bytes[2] = static_cast<BYTE>(value >> 16);
    bytes[3] = static_cast<BYTE>(value >> 24);
}

// The checksum a base block should carry: the XOR of its first 508 bytes as
// DWORDs, where 0 becomes 1 and all ones becomes 0xFFFFFFFE.
inline DWORD BaseBlockChecksum(const BYTE* base) {
    DWORD sum = 0;
    for (DWORD at = 0; at < ChecksumOffset; at += 4) sum ^= ReadDword(base + at);
    if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
    if (sum == 0) return 1;
    return sum;
}

inline bool BaseBlockChecksumRight(const BYTE* base) {
    return BaseBlockChecksum(base) == ReadDword(base + ChecksumOffset);
}

// Dirty: the primary file is not current without its logs.
inline bool SequencesDiffer(const BYTE* base) {
    return ReadDword(base + PrimarySequenceOffset) != ReadDword(base + SecondarySequenceOffset);
}

}  // namespace regf
