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
constexpr DWORD FileTypeLog = 1;     // the old log format: base block, DIRT vector, pages
constexpr DWORD FileTypeLogNew = 6;  // the new log format: base block, HvLE entries

// Hive bins: 4096-byte multiples that tile the hive bins data.
constexpr DWORD BinAlignment = 4096;
constexpr DWORD BinHeaderBytes = 32;  // "hbin", offset, size, reserved, timestamp, spare
constexpr DWORD CellAlignment = 8;

// Offsets of cells are relative to the start of the hive bins data, which
// follows the base block; this value in a reference field means "none".
constexpr DWORD NoCell = 0xFFFFFFFF;

// The old log format: after the base block, "DIRT" and one bit per 512-byte
// page of the hive bins data, then the dirty pages in order.
constexpr DWORD OldLogPageBytes = 512;
constexpr DWORD OldLogVectorOffset = 4096;

// The new log format: after the base block, entries that start with "HvLE".
constexpr DWORD LogEntryAlignment = 512;

inline DWORD ReadDword(const BYTE* bytes) {
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

inline WORD ReadWord(const BYTE* bytes) { return static_cast<WORD>(bytes[0] | bytes[1] << 8); }

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
