#include "hive/hive_bytes.h"

#include <string.h>

#include "hive/regf_layout.h"
#include "shared/platform.h"

namespace {

constexpr DWORD NoBlock = 0xFFFFFFFF;
constexpr unsigned long long NoPosition = ~0ull;

DWORD BlockLength(const HiveBytes* bytes, DWORD index) {
    const DWORD start = index << HiveBlockShift;
    const DWORD left = bytes->size - start;
    return left < HiveBlockBytes ? left : HiveBlockBytes;
}

bool ReadFromFile(HiveBytes* bytes, DWORD start, BYTE* into, DWORD count) {
    const unsigned long long at = static_cast<unsigned long long>(regf::BaseBlockBytes) + start;
    // Reads in order need no seek. (A read at an offset of its own, through
    // OVERLAPPED, costs Wine a trip to its server.)
    if (at != bytes->filePosition) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(at);
        if (!SetFilePointerEx(bytes->file, to, nullptr, FILE_BEGIN)) {
            bytes->error = GetLastError();
            return false;
        }
    }
    bytes->filePosition = NoPosition;
    for (DWORD done = 0; done < count;) {
        DWORD got = 0;
        if (!ReadFile(bytes->file, into + done, count - done, &got, nullptr)) {
            bytes->error = GetLastError();
            return false;
        }
        if (got == 0) {  // the file became shorter since it was opened
            bytes->error = ERROR_HANDLE_EOF;
            return false;
        }
        done += got;
    }
    bytes->filePosition = at + count;
    return true;
}

// The pages a replay's run names, read from its log.
bool ReadFromLog(HiveBytes* bytes, const LogRun& run, DWORD from, BYTE* into, DWORD count) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(run.fileOffset + (from - run.offset));
    const HANDLE log = bytes->replay->logFiles[run.log].get();
    if (!SetFilePointerEx(log, to, nullptr, FILE_BEGIN)) {
        bytes->error = GetLastError();
        return false;
    }
    DWORD got = 0;
    if (!ReadFile(log, into, count, &got, nullptr) || got != count) {
        bytes->error =
            got != count && GetLastError() == ERROR_SUCCESS ? ERROR_HANDLE_EOF : GetLastError();
        return false;
    }
    return true;
}

// `length` bytes from `start`: the file's, zeros past what it gives, and the
// replay's runs over both.
bool Fill(HiveBytes* bytes, DWORD start, DWORD length, BYTE* into) {
    DWORD fromFile = 0;
    if (start < bytes->fileBins) {
        fromFile = bytes->fileBins - start < length ? bytes->fileBins - start : length;
        if (!ReadFromFile(bytes, start, into, fromFile)) return false;
    }
    memset(into + fromFile, 0, length - fromFile);
    if (!bytes->replay) return true;
    // The first run that ends past `start`; the runs are sorted and disjoint.
    const LogRun* runs = bytes->replay->runs.data();
    size_t low = 0, high = bytes->replay->runs.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (runs[middle].offset + runs[middle].size <= start) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    for (size_t i = low; i < bytes->replay->runs.size() && runs[i].offset < start + length; ++i) {
        const DWORD from = runs[i].offset > start ? runs[i].offset : start;
        const DWORD end = runs[i].offset + runs[i].size;
        const DWORD to = end < start + length ? end : start + length;
        if (!ReadFromLog(bytes, runs[i], from, into + (from - start), to - from)) return false;
    }
    return true;
}

// The arena for the cache: as much of HiveArenaBytes as memory gives, down
// to one block.
bool StartCache(HiveBytes* bytes) {
    for (DWORD want = HiveArenaBytes; !bytes->arena && want >= HiveBlockBytes; want /= 2) {
        bytes->arena = bytes->memory->Room(HiveArena, want);
        bytes->slotCount = want / HiveBlockBytes;
    }
    if (!bytes->arena) bytes->error = ERROR_NOT_ENOUGH_MEMORY;
    return bytes->arena != nullptr;
}

// A slot for a block: a fresh one while some are unused, otherwise the
// first the clock finds not used since it last passed.
HiveBlock* FreeSlot(HiveBytes* bytes) {
    if (!bytes->arena && !StartCache(bytes)) return nullptr;
    if (bytes->used < bytes->slotCount) {
        HiveBlock* slot = &bytes->slots[bytes->used];
        slot->bytes = bytes->arena + static_cast<size_t>(bytes->used) * HiveBlockBytes;
        ++bytes->used;
        return slot;
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
    if (!Fill(bytes, index << HiveBlockShift, BlockLength(bytes, index), slot->bytes)) {
        return nullptr;
    }
    slot->index = index;
    slot->recent = true;
    bytes->slotOf[index] = static_cast<DWORD>(slot - bytes->slots) + 1;
    return slot;
}

bool NeedsTable(HiveBytes* bytes) {
    bytes->blocks = static_cast<DWORD>(
        (static_cast<unsigned long long>(bytes->size) + HiveBlockBytes - 1) >> HiveBlockShift);
    bytes->slotOf = reinterpret_cast<DWORD*>(
        bytes->memory->Zeroed(HiveBlockTable, (bytes->blocks + 1) * sizeof(DWORD)));
    if (!bytes->slotOf) bytes->error = ERROR_NOT_ENOUGH_MEMORY;
    return bytes->slotOf != nullptr;
}

// Reads the hive bins data whole, at once; when memory does not give that
// much in one piece, the hive is read through the cache instead.
bool ReadWhole(HiveBytes* bytes) {
    if (!bytes->arena) {
        bytes->arena = bytes->memory->Room(HiveArena, regf::BaseBlockBytes + bytes->size);
    }
    if (!bytes->arena) {
        bytes->whole = false;
        return NeedsTable(bytes);
    }
    BYTE* image = bytes->arena + regf::BaseBlockBytes;
    if (!Fill(bytes, 0, bytes->size, image)) return false;
    bytes->image = image;
    return true;
}

// The bytes from `offset` to the end of the block holding it (at least one),
// with *count set to how many; nullptr past the end or when the block
// cannot be read (bytes->error says why then). Valid until the next call.
const BYTE* Span(HiveBytes* bytes, DWORD offset, DWORD* count) {
    if (offset >= bytes->size) return nullptr;
    if (bytes->whole && !bytes->image && !ReadWhole(bytes)) return nullptr;
    if (bytes->image) {
        *count = bytes->size - offset;
        return bytes->image + offset;
    }
    if (!bytes->slotOf) return nullptr;
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

}  // namespace

bool HiveBytesBegin(HiveBytes* bytes, HiveMemory* memory, HANDLE file, unsigned long long fileSize,
                    DWORD size, const LogReplay* replay) {
    memset(bytes, 0, sizeof(*bytes));
    bytes->file = file;
    bytes->filePosition = NoPosition;
    bytes->size = size;
    const unsigned long long inFile =
        fileSize > regf::BaseBlockBytes ? fileSize - regf::BaseBlockBytes : 0;
    bytes->fileBins = inFile < size ? static_cast<DWORD>(inFile) : size;
    if (replay && replay->primaryBinsBytes < bytes->fileBins) {
        bytes->fileBins = replay->primaryBinsBytes;
    }
    bytes->replay = replay;
    bytes->memory = memory;
    bytes->whole = size <= Platform.hiveWholeLimit;
    return bytes->whole || NeedsTable(bytes);
}

void HiveBytesBeginHeld(HiveBytes* bytes, HiveMemory* memory, const BYTE* image, DWORD size) {
    memset(bytes, 0, sizeof(*bytes));
    bytes->filePosition = NoPosition;
    bytes->size = size;
    bytes->fileBins = size;
    bytes->memory = memory;
    bytes->whole = true;
    bytes->image = image;
}

bool HiveBytesWhole(const HiveBytes* bytes) {
    // A recovered image holds zeros where neither gives bytes.
    return bytes->replay || bytes->fileBins >= bytes->size;
}

const BYTE* HiveBytesInOrder(HiveBytes* bytes, DWORD offset, DWORD* count) {
    if (offset >= bytes->size) return nullptr;
    // A hive held whole is read into memory for the reads after.
    if (bytes->whole) return Span(bytes, offset, count);
    if (offset - bytes->stretchStart >= bytes->stretchLength) {
        if (!bytes->stretch) {
            bytes->stretch = bytes->memory->Room(HiveStretch, HiveStretchBytes);
            if (!bytes->stretch) {
                bytes->error = ERROR_NOT_ENOUGH_MEMORY;
                return nullptr;
            }
        }
        const DWORD start = offset & ~(HiveStretchBytes - 1);
        const DWORD length =
            bytes->size - start < HiveStretchBytes ? bytes->size - start : HiveStretchBytes;
        bytes->stretchLength = 0;
        if (!Fill(bytes, start, length, bytes->stretch)) return nullptr;
        bytes->stretchStart = start;
        bytes->stretchLength = length;
    }
    *count = bytes->stretchLength - (offset - bytes->stretchStart);
    return bytes->stretch + (offset - bytes->stretchStart);
}

const BYTE* HiveBytesGather(HiveBytes* bytes, DWORD offset, DWORD count, BYTE* local) {
    if (offset >= bytes->size) return nullptr;
    DWORD available = 0;
    const BYTE* span = Span(bytes, offset, &available);
    if (!span) return nullptr;
    if (count <= available) return span;
    if (!local) return nullptr;
    const DWORD held = count < bytes->size - offset ? count : bytes->size - offset;
    if (!HiveBytesRead(bytes, offset, local, held)) return nullptr;
    memset(local + held, 0, count - held);
    return local;
}

bool HiveBytesRead(HiveBytes* bytes, DWORD offset, void* out, DWORD count) {
    if (offset > bytes->size || count > bytes->size - offset) return false;
    BYTE* to = static_cast<BYTE*>(out);
    while (count > 0) {
        DWORD available = 0;
        const BYTE* from = Span(bytes, offset, &available);
        if (!from) return false;
        const DWORD take = available < count ? available : count;
        memcpy(to, from, take);
        to += take;
        offset += take;
        count -= take;
    }
    return true;
}
