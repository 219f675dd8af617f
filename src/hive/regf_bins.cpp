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

// The cells from `at` to `end`, the end of their bin. A span ends at a block
// boundary, which a 4-byte size field at an 8-byte boundary never crosses.
DWORD CheckCells(Hive* hive, DWORD at, DWORD end, DWORD* bits, CheckFault* fault) {
    while (at < end) {
        DWORD count = 0;
        const BYTE* span = HiveBytesSpan(&hive->bytes, at, &count);
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

DWORD* NewCellBits(DWORD binsSize) {
    return static_cast<DWORD*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (binsSize / 256 + 1) * sizeof(DWORD)));
}

DWORD CheckBins(Hive* hive, CheckFault* fault) {
    if (hive->allocated) HeapFree(GetProcessHeap(), 0, hive->allocated);
    hive->allocated = nullptr;
    DWORD* bits = NewCellBits(hive->binsSize);
    if (!bits) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD at = 0;
    while (at < hive->binsSize) {
        BYTE header[regf::BinSizeField + 4];
        if (!HiveBytesRead(&hive->bytes, at, header, sizeof(header))) {
            HeapFree(GetProcessHeap(), 0, bits);
            return ReadError(hive);
        }
        const DWORD size = ReadDword(header + regf::BinSizeField);
        const wchar_t* problem = nullptr;
        if (memcmp(header, "hbin", 4) != 0) {
            problem = L"hive bin does not begin with hbin";
        } else if (ReadDword(header + regf::BinOffsetField) != at) {
            problem = L"hive bin offset field is wrong";
        } else if (size == 0 || size % regf::BinAlignment != 0) {
            problem = L"hive bin size is zero or not a multiple of 4096";
        } else if (size > hive->binsSize - at) {
            problem = L"hive bin runs past the end of the hive bins data";
        }
        DWORD error = problem ? Fail(fault, problem, at)
                              : CheckCells(hive, at + regf::BinHeaderBytes, at + size, bits, fault);
        if (error != ERROR_SUCCESS || fault->problem) {
            HeapFree(GetProcessHeap(), 0, bits);
            return error;
        }
        at += size;
    }
    hive->allocated = bits;
    return ERROR_SUCCESS;
}
