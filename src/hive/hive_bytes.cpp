#include "hive/hive_bytes.h"

#include <string.h>

#include "hive/regf_layout.h"

namespace {

constexpr DWORD NoBlock = 0xFFFFFFFF;

DWORD BlockLength(const HiveBytes* bytes, DWORD index) {
    const DWORD start = index << HiveBlockShift;
    const DWORD left = bytes->size - start;
    return left < HiveBlockBytes ? left : HiveBlockBytes;
}

bool ReadFromFile(HiveBytes* bytes, DWORD start, BYTE* into, DWORD count) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(regf::BaseBlockBytes) + start;
    if (!SetFilePointerEx(bytes->file, at, nullptr, FILE_BEGIN)) {
        bytes->error = GetLastError();
        return false;
    }
    while (count > 0) {
        DWORD got = 0;
        if (!ReadFile(bytes->file, into, count, &got, nullptr)) {
            bytes->error = GetLastError();
            return false;
        }
        if (got == 0) {  // the file became shorter since it was opened
            bytes->error = ERROR_HANDLE_EOF;
            return false;
        }
        into += got;
        count -= got;
    }
    return true;
}

// The block's bytes: the file's, zeros past its end, and the overlay's runs
// over both.
bool Fill(HiveBytes* bytes, DWORD index, BYTE* into) {
    const DWORD start = index << HiveBlockShift;
    const DWORD length = BlockLength(bytes, index);
    DWORD fromFile = 0;
    if (start < bytes->fileBins) {
        fromFile = bytes->fileBins - start < length ? bytes->fileBins - start : length;
        if (!ReadFromFile(bytes, start, into, fromFile)) return false;
    }
    memset(into + fromFile, 0, length - fromFile);
    if (!bytes->overlay) return true;
    for (size_t i = 0; i < bytes->overlay->count; ++i) {
        const HiveOverlayRun& run = bytes->overlay->runs[i];
        if (run.offset >= start + length) break;
        if (run.offset + run.size <= start) continue;
        const DWORD from = run.offset > start ? run.offset : start;
        const DWORD to =
            run.offset + run.size < start + length ? run.offset + run.size : start + length;
        memcpy(into + (from - start), run.bytes + (from - run.offset), to - from);
    }
    return true;
}

// A slot for a block: a fresh one while fewer than HiveCacheBlocks are in
// use, otherwise the first the clock finds not used since it last passed.
HiveBlock* FreeSlot(HiveBytes* bytes) {
    if (bytes->used < HiveCacheBlocks) {
        HiveBlock* slot = &bytes->slots[bytes->used];
        slot->bytes = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, HiveBlockBytes));
        if (slot->bytes) {
            ++bytes->used;
            return slot;
        }
        if (bytes->used == 0) {
            bytes->error = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
    }
    for (;;) {
        HiveBlock* slot = &bytes->slots[bytes->hand];
        bytes->hand = (bytes->hand + 1) % bytes->used;
        if (!slot->recent) {
            if (slot->index != NoBlock) bytes->slotOf[slot->index] = 0;
            return slot;
        }
        slot->recent = false;
    }
}

HiveBlock* Load(HiveBytes* bytes, DWORD index) {
    HiveBlock* slot = FreeSlot(bytes);
    if (!slot) return nullptr;
    slot->index = NoBlock;  // until it is filled
    if (!Fill(bytes, index, slot->bytes)) return nullptr;
    slot->index = index;
    slot->recent = true;
    bytes->slotOf[index] = static_cast<DWORD>(slot - bytes->slots) + 1;
    return slot;
}

}  // namespace

bool HiveBytesBegin(HiveBytes* bytes, HANDLE file, unsigned long long fileSize, DWORD size,
                    const HiveOverlay* overlay) {
    memset(bytes, 0, sizeof(*bytes));
    bytes->file = file;
    bytes->size = size;
    const unsigned long long inFile =
        fileSize > regf::BaseBlockBytes ? fileSize - regf::BaseBlockBytes : 0;
    bytes->fileBins = inFile < size ? static_cast<DWORD>(inFile) : size;
    bytes->overlay = overlay;
    bytes->blocks = static_cast<DWORD>(
        (static_cast<unsigned long long>(size) + HiveBlockBytes - 1) >> HiveBlockShift);
    bytes->slotOf = static_cast<DWORD*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (bytes->blocks + 1) * sizeof(DWORD)));
    if (!bytes->slotOf) {
        bytes->error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return true;
}

void HiveBytesEnd(HiveBytes* bytes) {
    for (DWORD i = 0; i < bytes->used; ++i) HeapFree(GetProcessHeap(), 0, bytes->slots[i].bytes);
    if (bytes->slotOf) HeapFree(GetProcessHeap(), 0, bytes->slotOf);
    bytes->slotOf = nullptr;
    bytes->used = 0;
}

bool HiveBytesWhole(const HiveBytes* bytes) {
    DWORD covered = bytes->fileBins;
    if (bytes->overlay) {
        for (size_t i = 0; i < bytes->overlay->count && covered < bytes->size; ++i) {
            const HiveOverlayRun& run = bytes->overlay->runs[i];
            if (run.offset > covered) break;
            if (run.offset + run.size > covered) covered = run.offset + run.size;
        }
    }
    return covered >= bytes->size;
}

const BYTE* HiveBytesSpan(HiveBytes* bytes, DWORD offset, DWORD* count) {
    if (offset >= bytes->size || !bytes->slotOf) return nullptr;
    const DWORD index = offset >> HiveBlockShift;
    HiveBlock* block = nullptr;
    if (const DWORD slot = bytes->slotOf[index]) {
        block = &bytes->slots[slot - 1];
        block->recent = true;
    } else {
        block = Load(bytes, index);
        if (!block) return nullptr;
    }
    const DWORD within = offset & (HiveBlockBytes - 1);
    *count = BlockLength(bytes, index) - within;
    return block->bytes + within;
}

bool HiveBytesRead(HiveBytes* bytes, DWORD offset, void* out, DWORD count) {
    if (offset > bytes->size || count > bytes->size - offset) return false;
    BYTE* to = static_cast<BYTE*>(out);
    while (count > 0) {
        DWORD available = 0;
        const BYTE* from = HiveBytesSpan(bytes, offset, &available);
        if (!from) return false;
        const DWORD take = available < count ? available : count;
        memcpy(to, from, take);
        to += take;
        offset += take;
        count -= take;
    }
    return true;
}
