#include "shared/hive_check.h"

#include <string.h>

#include "shared/owned_handle.h"

// Only the base block, the bin headers and the cell size fields are looked
// at; everything between them is skipped by arithmetic, so the check costs
// next to nothing beside the copy it rides on.

namespace {

constexpr DWORD BinAlignment = 4096;
constexpr DWORD CellAlignment = 8;
constexpr size_t BinHeaderBytes = 32;
constexpr size_t BinFieldsBytes = 12;  // "hbin", its offset, its size
constexpr size_t CellSizeBytes = 4;
constexpr size_t RootHeaderBytes = 6;  // the size and the "nk" of the root cell
constexpr size_t ChecksumOffset = 508;
constexpr char TextHeader[] = "WINE REGISTRY Version 2";
constexpr DWORD ChunkBytes = 0x20000;

static_assert(BinFieldsBytes <= sizeof(HiveCheck::partial) &&
                  RootHeaderBytes <= sizeof(HiveCheck::partial),
              "a header cut by a chunk's end fits the partial buffer");

DWORD ReadDword(const BYTE* bytes) {
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

void Fail(HiveCheck* check, const wchar_t* problem) {
    check->stage = HiveCheckStage::Failed;
    check->problem = problem;
}

bool IsTextHeader(const BYTE* bytes, size_t count) {
    const size_t length = sizeof(TextHeader) - 1;
    if (count < length + 1 || memcmp(bytes, TextHeader, length) != 0) return false;
    if (bytes[length] == '\n') return true;
    return count >= length + 2 && bytes[length] == '\r' && bytes[length + 1] == '\n';
}

DWORD BaseBlockChecksum(const BYTE* base) {
    DWORD sum = 0;
    for (size_t at = 0; at < ChecksumOffset; at += 4) sum ^= ReadDword(base + at);
    // The stored checksum is never 0 or all ones.
    if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
    if (sum == 0) return 1;
    return sum;
}

// Decides what the file is from its first `count` bytes: the whole base
// block, or the whole file when it is shorter than that.
void ReadBaseBlock(HiveCheck* check, size_t count) {
    const BYTE* base = check->baseBlock;
    if (IsTextHeader(base, count)) {
        check->stage = HiveCheckStage::Text;
        return;
    }
    if (count < 4 || memcmp(base, "regf", 4) != 0) {
        Fail(check, count == 0 ? L"file is empty" : L"file is not a registry hive");
        return;
    }
    if (count < HiveBaseBlockBytes) {
        Fail(check, L"file ends inside the base block");
        return;
    }
    if (BaseBlockChecksum(base) != ReadDword(base + ChecksumOffset)) {
        Fail(check, L"base block checksum is wrong");
        return;
    }
    const DWORD dataSize = ReadDword(base + 40);
    if (dataSize == 0 || dataSize % BinAlignment != 0) {
        Fail(check, L"hive bins data size is zero or not a multiple of 4096");
        return;
    }
    check->dataEnd = HiveBaseBlockBytes + static_cast<unsigned long long>(dataSize);
    check->rootAt = HiveBaseBlockBytes + static_cast<unsigned long long>(ReadDword(base + 36));
    check->next = HiveBaseBlockBytes;
    check->stage = HiveCheckStage::BinHeader;
}

void ReadBinHeader(HiveCheck* check, const BYTE* header) {
    const unsigned long long at = check->next;
    const DWORD size = ReadDword(header + 8);
    if (memcmp(header, "hbin", 4) != 0) {
        Fail(check, L"hive bin does not begin with hbin");
    } else if (ReadDword(header + 4) != at - HiveBaseBlockBytes) {
        Fail(check, L"hive bin offset field is wrong");
    } else if (size == 0 || size % BinAlignment != 0) {
        Fail(check, L"hive bin size is zero or not a multiple of 4096");
    } else if (size > check->dataEnd - at) {
        Fail(check, L"hive bin runs past the end of the hive bins data");
    } else {
        check->binEnd = at + size;
        check->next = at + BinHeaderBytes;
        check->stage = HiveCheckStage::Cell;
    }
}

void ReadCellHeader(HiveCheck* check, const BYTE* header) {
    const unsigned long long at = check->next;
    const DWORD field = ReadDword(header);
    const bool allocated = (field & 0x80000000) != 0;  // a negative size
    const DWORD size = allocated ? 0 - field : field;
    if (size == 0 || size % CellAlignment != 0) {
        Fail(check, L"cell size is zero or not a multiple of 8");
        return;
    }
    if (size > check->binEnd - at) {
        Fail(check, L"cell runs past the end of its bin");
        return;
    }
    if (at == check->rootAt) {
        if (!allocated) {
            Fail(check, L"root cell is not allocated");
            return;
        }
        if (header[4] != 'n' || header[5] != 'k') {
            Fail(check, L"root cell is not a key node");
            return;
        }
        check->rootFound = true;
    }
    check->next = at + size;
    if (check->next == check->binEnd) {
        check->stage =
            check->next == check->dataEnd ? HiveCheckStage::AfterData : HiveCheckStage::BinHeader;
    }
}

// The size of the bin whose header begins `bytes` (file offset `at`) when
// the whole bin lies in the `count` bytes at hand, its header is sound and
// it does not hold the root cell; 0 otherwise.
size_t WholePlainBin(const HiveCheck* check, const BYTE* bytes, size_t count,
                     unsigned long long at) {
    if (count < BinHeaderBytes || memcmp(bytes, "hbin", 4) != 0 ||
        ReadDword(bytes + 4) != at - HiveBaseBlockBytes) {
        return 0;
    }
    const DWORD size = ReadDword(bytes + 8);
    if (size == 0 || size % BinAlignment != 0) return 0;
    if (size > count || size > check->dataEnd - at) return 0;
    if (check->rootAt >= at && check->rootAt - at < size) return 0;
    return size;
}

// The offset of the cell after the one at `at`, or 0 when that cell's size
// is bad. Offsets count from `from`; the bin ends binEnd bytes past it.
inline size_t NextCell(const BYTE* from, size_t binEnd, size_t at) {
    const DWORD field = ReadDword(from + at);
    // The magnitude of a size stored negated when allocated, without a
    // branch, which would mispredict wherever free and allocated cells mix.
    const DWORD sign = 0 - (field >> 31);
    const DWORD size = (field ^ sign) - sign;
    if (size == 0 || size % CellAlignment != 0 || size > binEnd - at) return 0;
    return at + size;
}

// Walks the cells whose size fields lie wholly in the bytes at hand, which
// begin with the cell at check->next, for as long as none needs a closer
// look: the root cell, the last cell of a bin and a bad size are left to
// ReadCellHeader.
void SkipPlainCells(HiveCheck* check, const BYTE* bytes, size_t count) {
    const unsigned long long origin = check->next;
    // A bin's size fits a DWORD, so what is left of it fits a size_t.
    const size_t binLeft = static_cast<size_t>(check->binEnd - origin);
    const size_t root = check->rootAt >= origin && check->rootAt - origin < count
                            ? static_cast<size_t>(check->rootAt - origin)
                            : static_cast<size_t>(-1);
    size_t at = 0;
    while (at <= count - CellSizeBytes && at != root) {
        const size_t following = NextCell(bytes, binLeft, at);
        if (following == 0 || following == binLeft) break;
        at = following;
    }
    check->next = origin + at;
}

constexpr int WalkLanes = 4;

// Whether the cells of `count` whole bins (1 to WalkLanes) tile them. Each
// step of a walk waits on the size it has just read, so four walks go side
// by side, which the processor runs at once; the lanes are written out
// because the compiler leaves a loop over them slower.
bool CellsTile(const BYTE* const* bins, const size_t* sizes, int count) {
    size_t at[WalkLanes] = {BinHeaderBytes, BinHeaderBytes, BinHeaderBytes, BinHeaderBytes};
    if (count == WalkLanes) {
        while (at[0] < sizes[0] && at[1] < sizes[1] && at[2] < sizes[2] && at[3] < sizes[3]) {
            at[0] = NextCell(bins[0], sizes[0], at[0]);
            at[1] = NextCell(bins[1], sizes[1], at[1]);
            at[2] = NextCell(bins[2], sizes[2], at[2]);
            at[3] = NextCell(bins[3], sizes[3], at[3]);
            if (at[0] == 0 || at[1] == 0 || at[2] == 0 || at[3] == 0) return false;
        }
    }
    for (int lane = 0; lane < count; ++lane) {
        while (at[lane] != 0 && at[lane] < sizes[lane]) {
            at[lane] = NextCell(bins[lane], sizes[lane], at[lane]);
        }
        if (at[lane] == 0) return false;
    }
    return true;
}

// Checks the bins lying wholly in the bytes at hand, which begin with a bin
// header at check->next, a few at a time. Stops before the first group with
// a bin that is not wholly here, holds the root cell or has anything wrong;
// the general path then takes those a header at a time, so the first
// problem is still the one reported.
void SkipPlainBins(HiveCheck* check, const BYTE* bytes, size_t count) {
    size_t done = 0;
    int lanes = WalkLanes;
    while (lanes == WalkLanes) {
        const BYTE* bins[WalkLanes];
        size_t sizes[WalkLanes];
        size_t end = done;
        for (lanes = 0; lanes < WalkLanes; ++lanes) {
            const size_t size = WholePlainBin(check, bytes + end, count - end, check->next + end);
            if (size == 0) break;
            bins[lanes] = bytes + end;
            sizes[lanes] = size;
            end += size;
        }
        if (lanes == 0 || !CellsTile(bins, sizes, lanes)) break;
        done = end;
    }
    check->next += done;
    if (check->next == check->dataEnd) check->stage = HiveCheckStage::AfterData;
}

size_t HeaderBytes(const HiveCheck* check) {
    if (check->stage == HiveCheckStage::BinHeader) return BinFieldsBytes;
    return check->next == check->rootAt ? RootHeaderBytes : CellSizeBytes;
}

}  // namespace

void HiveCheckBegin(HiveCheck* check) {
    check->stage = HiveCheckStage::BaseBlock;
    check->position = 0;
    check->next = 0;
    check->binEnd = 0;
    check->dataEnd = 0;
    check->rootAt = 0;
    check->rootFound = false;
    check->problem = nullptr;
    check->partialCount = 0;
}

void HiveCheckFeed(HiveCheck* check, const BYTE* bytes, size_t count) {
    const BYTE* const end = bytes + count;
    while (bytes < end) {
        const size_t left = static_cast<size_t>(end - bytes);
        switch (check->stage) {
            case HiveCheckStage::BaseBlock: {
                size_t take = HiveBaseBlockBytes - static_cast<size_t>(check->position);
                if (take > left) take = left;
                memcpy(check->baseBlock + check->position, bytes, take);
                bytes += take;
                check->position += take;
                if (check->position == HiveBaseBlockBytes) ReadBaseBlock(check, HiveBaseBlockBytes);
                break;
            }
            case HiveCheckStage::BinHeader:
            case HiveCheckStage::Cell:
            case HiveCheckStage::AfterData: {
                if (check->position < check->next) {
                    const unsigned long long gap = check->next - check->position;
                    const size_t skip = gap < left ? static_cast<size_t>(gap) : left;
                    bytes += skip;
                    check->position += skip;
                    break;
                }
                if (check->stage == HiveCheckStage::AfterData) {
                    Fail(check, L"file is longer than its hive bins data");
                    return;
                }
                if (check->partialCount == 0 && check->position == check->next) {
                    if (check->stage == HiveCheckStage::BinHeader) {
                        SkipPlainBins(check, bytes, left);
                    } else if (left >= CellSizeBytes) {
                        SkipPlainCells(check, bytes, left);
                    }
                    if (check->next != check->position) continue;
                }
                const size_t need = HeaderBytes(check);
                const BYTE* header = bytes;
                if (check->partialCount > 0 || left < need) {
                    size_t take = need - check->partialCount;
                    if (take > left) take = left;
                    memcpy(check->partial + check->partialCount, bytes, take);
                    check->partialCount += take;
                    bytes += take;
                    check->position += take;
                    if (check->partialCount < need) return;  // the rest comes with the next feed
                    check->partialCount = 0;
                    header = check->partial;
                }
                if (check->stage == HiveCheckStage::BinHeader) {
                    ReadBinHeader(check, header);
                } else {
                    ReadCellHeader(check, header);
                }
                break;
            }
            case HiveCheckStage::Text:
            case HiveCheckStage::Failed:
                check->position += left;
                return;
        }
    }
}

HiveCheckResult HiveCheckEnd(HiveCheck* check) {
    if (check->stage == HiveCheckStage::BaseBlock) {
        ReadBaseBlock(check, static_cast<size_t>(check->position));
    } else if (check->stage == HiveCheckStage::BinHeader || check->stage == HiveCheckStage::Cell ||
               (check->stage == HiveCheckStage::AfterData && check->position < check->dataEnd)) {
        Fail(check, L"file ends inside the hive bins data");
    } else if (check->stage == HiveCheckStage::AfterData && !check->rootFound) {
        Fail(check, L"root cell offset does not point at a cell");
    }

    HiveCheckResult result = {false, false, false, nullptr};
    if (check->stage == HiveCheckStage::Failed) {
        result.problem = check->problem;
    } else if (check->stage == HiveCheckStage::Text) {
        result.passed = true;
        result.textFormat = true;
    } else {
        result.passed = true;
        result.needsLogs = ReadDword(check->baseBlock + 4) != ReadDword(check->baseBlock + 8);
    }
    return result;
}

bool CheckHiveFile(const wchar_t* path, HiveCheckResult* result, DWORD* error) {
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        *error = GetLastError();
        return false;
    }
    static_assert(ChunkBytes <= 0x20000, "the read buffer lives on the stack");
    BYTE buffer[ChunkBytes];
    HiveCheck check;
    HiveCheckBegin(&check);
    // Once the verdict cannot change (a failure, or a text hive, whose rest
    // is not looked at) the remaining bytes need not be read.
    while (check.stage != HiveCheckStage::Failed && check.stage != HiveCheckStage::Text) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, ChunkBytes, &got, nullptr)) {
            *error = GetLastError();
            return false;
        }
        if (got == 0) break;
        HiveCheckFeed(&check, buffer, got);
    }
    *result = HiveCheckEnd(&check);
    *error = ERROR_SUCCESS;
    return true;
}
