// The first pass of the check: the bins tile the hive bins data, and the
// cells tile each bin. Marks where the allocated cells start, so that the
// pass over the key tree can hold every reference to a cell's start.
#include <string.h>

#include "hive/regf_check.h"

namespace {

using regf::ReadDword;

unsigned long long FileOffset(DWORD at) { return regf::BaseBlockBytes + at; }

DWORD Fail(CheckFault* fault, const wchar_t* problem, DWORD at) {
    fault->problem = problem;
    fault->at = FileOffset(at);
    return ERROR_SUCCESS;
}

DWORD ReadError(const Hive* hive) {
    return hive->bytes.error ? hive->bytes.error : ERROR_READ_FAULT;
}

bool Stop(BinsPass* pass, const wchar_t* problem, DWORD at) {
    pass->problem = problem;
    pass->problemAt = at;
    return false;
}

// The header of the bin at pass->at, which lies in `header`.
bool EnterBin(BinsPass* pass, const BYTE* header) {
    const DWORD at = pass->at;
    const DWORD binSize = ReadDword(header + regf::BinSizeField);
    if (memcmp(header, "hbin", 4) != 0) return Stop(pass, L"hive bin does not begin with hbin", at);
    if (ReadDword(header + regf::BinOffsetField) != at) {
        return Stop(pass, L"hive bin offset field is wrong", at);
    }
    if (binSize == 0 || binSize % regf::BinAlignment != 0) {
        return Stop(pass, L"hive bin size is zero or not a multiple of 4096", at);
    }
    if (binSize > pass->size - at) {
        return Stop(pass, L"hive bin runs past the end of the hive bins data", at);
    }
    const DWORD page = at / regf::BinAlignment;
    pass->binStarts[page / 32] |= 1u << (page % 32);
    pass->binEnd = at + binSize;
    pass->at = at + regf::BinHeaderBytes;
    return true;
}

}  // namespace

bool ReachedBefore(Hive* hive, DWORD at) {
    if (!hive->binStarts || at >= hive->binsSize || at % regf::CellAlignment != 0) return false;
    DWORD page = at / regf::BinAlignment;
    while (!((hive->binStarts[page / 32] >> (page % 32)) & 1)) --page;  // the first bin is at 0
    BYTE field[regf::CellSizeBytes];
    DWORD cell = page * regf::BinAlignment + regf::BinHeaderBytes;
    while (cell < at && HiveBytesRead(&hive->bytes, cell, field, sizeof(field))) {
        const DWORD stored = ReadDword(field);
        cell += stored & 0x80000000 ? 0 - stored : stored;  // the bins pass proved them whole
    }
    return cell == at && HiveBytesRead(&hive->bytes, cell, field, sizeof(field)) &&
           (ReadDword(field) & 0x80000000) != 0;
}

void EndCheck(Hive* hive) {
    // The memory goes with the hive's bytes.
    hive->allocated = nullptr;
    hive->binStarts = nullptr;
}

void StartBinsPass(BinsPass* pass, DWORD size, DWORD* allocated, DWORD* binStarts) {
    memset(pass, 0, sizeof(*pass));
    pass->size = size;
    pass->allocated = allocated;
    pass->binStarts = binStarts;
}

bool FeedBinsPass(BinsPass* pass, const BYTE* bytes, DWORD first, DWORD count) {
    if (pass->problem || pass->lost || pass->at >= pass->size) return false;
    if (first > pass->at || first >= pass->size) {
        pass->lost = true;
        return false;
    }
    // Only whole size fields: a feed that ends elsewhere ends the file.
    const DWORD end = (count < pass->size - first ? first + count : pass->size) & ~7u;
    DWORD ahead = pass->at & ~63u;
    while (pass->at < end) {
        if (pass->at == pass->binEnd) {
            if (end - pass->at < regf::BinHeaderBytes) break;
            if (!EnterBin(pass, bytes + (pass->at - first))) return false;
        }
        // The lines of the bin, and of the next, are asked for ahead of the
        // cells' sizes, which the walk reads one after another.
        const DWORD binEnd = pass->binEnd;
        const DWORD want = binEnd + regf::BinAlignment < end ? binEnd + regf::BinAlignment : end;
        for (; ahead < want; ahead += 64) __builtin_prefetch(bytes + (ahead - first));
        const DWORD limit = binEnd < end ? binEnd : end;
        DWORD at = pass->at;
        while (at < limit) {
            const DWORD field = ReadDword(bytes + (at - first));
            const DWORD used = field >> 31;
            const DWORD size = used ? 0 - field : field;
            // One test for a size of at least 8, within the bin (at and
            // binEnd are multiples of 8), and a multiple of 8.
            if ((size - regf::CellAlignment > binEnd - at - regf::CellAlignment) |
                (size % regf::CellAlignment != 0)) {
                return Stop(pass,
                            size == 0 || size % regf::CellAlignment != 0
                                ? L"cell size is zero or not a multiple of 8"
                                : L"cell runs past the end of its bin",
                            at);
            }
            pass->allocated[at >> 8] |= used << ((at >> 3) & 31);
            at += size;
        }
        pass->at = at;
        if (at < binEnd) break;
    }
    return pass->at < pass->size;
}

DWORD CheckBins(Hive* hive, CheckFault* fault) {
    EndCheck(hive);
    const DWORD size = hive->binsSize;
    if (const BinsPass* passed = hive->passed) {
        hive->allocated = passed->allocated;
        hive->binStarts = passed->binStarts;
        if (passed->problem) Fail(fault, passed->problem, passed->problemAt);
        return ERROR_SUCCESS;
    }
    HiveMemory* memory = hive->bytes.memory;
    hive->allocated =
        reinterpret_cast<DWORD*>(memory->Zeroed(HiveCellBits, (size / 256 + 1) * sizeof(DWORD)));
    hive->binStarts = reinterpret_cast<DWORD*>(
        memory->Zeroed(HiveBinBits, (size / regf::BinAlignment / 32 + 1) * sizeof(DWORD)));
    if (!hive->allocated || !hive->binStarts) return ERROR_NOT_ENOUGH_MEMORY;
    BinsPass pass;
    StartBinsPass(&pass, size, hive->allocated, hive->binStarts);
    for (DWORD at = 0; at < size;) {
        DWORD count = 0;
        const BYTE* span = HiveBytesInOrder(&hive->bytes, at, &count);
        if (!span) return ReadError(hive);
        if (!FeedBinsPass(&pass, span, at, count)) break;
        at += count;
    }
    if (pass.problem) return Fail(fault, pass.problem, pass.problemAt);
    return pass.at < size ? ERROR_READ_FAULT : ERROR_SUCCESS;
}
