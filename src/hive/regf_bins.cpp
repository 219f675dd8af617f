// The first pass of the check: the bins tile the hive bins data, and the
// cells tile each bin. Marks where the allocated cells start, so that the
// pass over the key tree can hold every reference to a cell's start.
#include <string.h>

#include "hive/kept_memory.h"
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

// The cells from `at` to `end`, the end of their bin. A span ends at a block
// boundary, which a 4-byte size field at an 8-byte boundary never crosses.
DWORD CheckCells(Hive* hive, DWORD at, DWORD end, DWORD* bits, CheckFault* fault) {
    while (at < end) {
        DWORD count = 0;
        const BYTE* span = HiveBytesInOrder(&hive->bytes, at, &count);
        if (!span) return ReadError(hive);
        const DWORD spanStart = at;
        const DWORD limit = end - at < count ? end : at + count;
        while (at < limit) {
            const DWORD field = ReadDword(span + (at - spanStart));
            const DWORD size = field & 0x80000000 ? 0 - field : field;
            if (size == 0 || size % regf::CellAlignment != 0) {
                return Fail(fault, L"cell size is zero or not a multiple of 8", at);
            }
            if (size > end - at) return Fail(fault, L"cell runs past the end of its bin", at);
            if (field & 0x80000000) bits[at >> 8] |= 1u << ((at >> 3) & 31);
            at += size;
        }
    }
    return ERROR_SUCCESS;
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

DWORD CheckBins(Hive* hive, CheckFault* fault) {
    EndCheck(hive);
    const DWORD size = hive->binsSize;
    hive->allocated = reinterpret_cast<DWORD*>(
        HiveBytesScratch(&hive->bytes, KeptCellBits, (size / 256 + 1) * sizeof(DWORD)));
    hive->binStarts = reinterpret_cast<DWORD*>(HiveBytesScratch(
        &hive->bytes, KeptBinBits, (size / regf::BinAlignment / 32 + 1) * sizeof(DWORD)));
    if (!hive->allocated || !hive->binStarts) return ERROR_NOT_ENOUGH_MEMORY;
    for (DWORD at = 0; at < size;) {
        DWORD count = 0;
        const BYTE* header = HiveBytesInOrder(&hive->bytes, at, &count);
        if (!header) return ReadError(hive);
        const DWORD binSize = ReadDword(header + regf::BinSizeField);
        const wchar_t* problem = nullptr;
        if (memcmp(header, "hbin", 4) != 0) {
            problem = L"hive bin does not begin with hbin";
        } else if (ReadDword(header + regf::BinOffsetField) != at) {
            problem = L"hive bin offset field is wrong";
        } else if (binSize == 0 || binSize % regf::BinAlignment != 0) {
            problem = L"hive bin size is zero or not a multiple of 4096";
        } else if (binSize > size - at) {
            problem = L"hive bin runs past the end of the hive bins data";
        }
        if (problem) return Fail(fault, problem, at);
        const DWORD page = at / regf::BinAlignment;
        hive->binStarts[page / 32] |= 1u << (page % 32);
        const DWORD error =
            CheckCells(hive, at + regf::BinHeaderBytes, at + binSize, hive->allocated, fault);
        if (error != ERROR_SUCCESS || fault->problem) return error;
        at += binSize;
    }
    return ERROR_SUCCESS;
}
