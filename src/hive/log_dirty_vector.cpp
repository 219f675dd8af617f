// The old log format: after the base block copy (one sector of 512 bytes
// times the clustering factor), "DIRT" and a bitmap with one bit per 512-byte
// page of the hive bins data, then, from the next sector, the dirty pages in
// the order of their bits. Contiguous dirty pages go in together; each hive
// bin that starts among them must carry a whole header, or the replay stops
// before it.
#include <string.h>
#include <strsafe.h>

#include "hive/log_formats.h"
#include "hive/regf_layout.h"
#include "shared/heap_array.h"

namespace {

constexpr DWORD PageBytes = regf::OldLogPageBytes;
constexpr DWORD PagesPerBin = regf::BinAlignment / PageBytes;

// The pages of the group [first, last) that may go in: all of them, or those
// before the first hive bin whose header is wrong (*badBin its offset).
DWORD WholeBinPages(const LogFile& log, unsigned long long fileOffset, DWORD first, DWORD last,
                    DWORD binsSize, DWORD* kept, DWORD* badBin) {
    *kept = last - first;
    // A group that starts inside a bin leaves that bin's header in the
    // primary, and the bins after it cannot be found from here.
    if (first % PagesPerBin != 0) return ERROR_SUCCESS;
    const unsigned long long end = static_cast<unsigned long long>(last) * PageBytes;
    BYTE header[12];
    unsigned long long bin = static_cast<unsigned long long>(first) * PageBytes;
    DWORD error = ReadAt(log.file.get(), fileOffset, header, sizeof(header));
    if (error != ERROR_SUCCESS || memcmp(header, "hbin", 4) != 0) return error;
    for (;;) {
        const DWORD size = regf::ReadDword(header + 8);
        if (memcmp(header, "hbin", 4) != 0 || regf::ReadDword(header + 4) != bin ||
            size < regf::BinAlignment || size % regf::BinAlignment != 0 || bin + size > binsSize) {
            *kept = static_cast<DWORD>(bin / PageBytes) - first;
            *badBin = static_cast<DWORD>(bin);
            return ERROR_SUCCESS;
        }
        bin += size;
        if (bin >= end) return ERROR_SUCCESS;
        error = ReadAt(log.file.get(),
                       fileOffset + (bin - static_cast<unsigned long long>(first) * PageBytes),
                       header, sizeof(header));
        if (error != ERROR_SUCCESS) return error;
    }
}

}  // namespace

DWORD ReplayDirtyVector(const LogFile* logs, const LogPrimary& primary, LogPieces* pieces,
                        LogPlan* plan, wchar_t* stopped) {
    // The newest of them; the first of those written at the same time.
    DWORD index = LogFileCount;
    for (DWORD i = 0; i < LogFileCount; ++i) {
        if (logs[i].kind == LogKind::Old &&
            (index == LogFileCount || LogWritten(logs[i]) > LogWritten(logs[index]))) {
            index = i;
        }
    }
    if (index == LogFileCount) return ERROR_SUCCESS;
    const LogFile& log = logs[index];
    const DWORD binsSize = regf::ReadDword(log.head + regf::BinsDataSizeOffset);
    const DWORD pages = binsSize / PageBytes;
    const DWORD vectorBytes = regf::DirtyVectorHeaderBytes + pages / 8;
    const unsigned long long vectorEnd =
        static_cast<unsigned long long>(log.sectorBytes) + vectorBytes;
    HeapArray<BYTE> vector;
    if (!vector.Resize(vectorBytes)) return ERROR_NOT_ENOUGH_MEMORY;
    if (vectorEnd > log.size) {
        StringCchPrintfW(stopped, LogStoppedCapacity, L"the %ls log ends inside its dirty vector",
                         log.suffix);
        return ERROR_SUCCESS;
    }
    DWORD error = ReadAt(log.file.get(), log.sectorBytes, vector.data(), vectorBytes);
    if (error != ERROR_SUCCESS) return error;
    if (memcmp(vector.data(), "DIRT", 4) != 0) {
        StringCchPrintfW(stopped, LogStoppedCapacity, L"the %ls log has no dirty vector",
                         log.suffix);
        return ERROR_SUCCESS;
    }
    const BYTE* bits = vector.data() + regf::DirtyVectorHeaderBytes;

    plan->used = true;
    plan->baseFrom = primary.baseValid ? -1 : static_cast<int>(index);
    plan->sequence = primary.baseValid ? primary.sequence : LogSequence(log);
    plan->binsDataSize = binsSize;
    plan->smallestBinsSize = binsSize;
    if (!BeginLogEntry(pieces, binsSize)) return ERROR_NOT_ENOUGH_MEMORY;

    // Dirty pages sit one after another from the sector after the vector.
    unsigned long long fileOffset =
        (vectorEnd + log.sectorBytes - 1) / log.sectorBytes * log.sectorBytes;
    for (DWORD page = 0; page < pages;) {
        if (!(bits[page / 8] >> (page % 8) & 1)) {
            ++page;
            continue;
        }
        const DWORD first = page;
        while (page < pages && bits[page / 8] >> (page % 8) & 1) ++page;
        const unsigned long long groupBytes =
            static_cast<unsigned long long>(page - first) * PageBytes;
        if (fileOffset + groupBytes > log.size) {
            StringCchPrintfW(stopped, LogStoppedCapacity,
                             L"the %ls log ends before its dirty page at offset 0x%lX", log.suffix,
                             first * PageBytes);
            return ERROR_SUCCESS;
        }
        DWORD kept = 0;
        DWORD badBin = 0;
        error = WholeBinPages(log, fileOffset, first, page, binsSize, &kept, &badBin);
        if (error != ERROR_SUCCESS) return error;
        if (kept > 0 &&
            !AddLogPiece(pieces, first * PageBytes, kept * PageBytes, index, fileOffset)) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        plan->entries += kept;
        if (kept < page - first) {
            StringCchPrintfW(stopped, LogStoppedCapacity,
                             L"the hive bin at offset 0x%lX in the %ls log is damaged", badBin,
                             log.suffix);
            return ERROR_SUCCESS;
        }
        fileOffset += groupBytes;
    }
    return ERROR_SUCCESS;
}
