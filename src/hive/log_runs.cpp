#include "hive/log_runs.h"

#include <string.h>

#include "hive/regf_layout.h"
#include "shared/heap_array.h"
#include "shared/heap_block.h"

namespace {

constexpr DWORD PageBytes = regf::OldLogPageBytes;
constexpr DWORD NoOwner = 0xFFFFFFFF;

// Grows an array by half again (at least 64 items); false when memory runs out.
bool Grow(void** items, size_t* capacity, size_t itemBytes) {
    const size_t wanted = *capacity < 64 ? 64 : *capacity + *capacity / 2;
    if (wanted > static_cast<size_t>(-1) / itemBytes) return false;
    void* grown = GrowHeapBlock(*items, *capacity * itemBytes, wanted * itemBytes);
    if (!grown) return false;
    *items = grown;
    *capacity = wanted;
    return true;
}

template <class T>
bool Append(T** items, size_t* count, size_t* capacity, const T& item) {
    if (*count == *capacity) {
        void* raw = *items;
        if (!Grow(&raw, capacity, sizeof(T))) return false;
        *items = static_cast<T*>(raw);
    }
    (*items)[(*count)++] = item;
    return true;
}

// Marks each page of the image with the last piece applied to it. A piece's
// pages at or past the smallest bins data size set from its entry on are
// dropped: a shrink frees them, and bins grown again start out empty.
void MarkOwners(const LogPieces& list, const DWORD* keptBelow, DWORD* owner, DWORD pages) {
    for (size_t entry = 0; entry < list.entryCount; ++entry) {
        const DWORD limit =
            keptBelow[entry] / PageBytes < pages ? keptBelow[entry] / PageBytes : pages;
        const size_t end =
            entry + 1 < list.entryCount ? list.entries[entry + 1].firstPiece : list.count;
        for (size_t index = list.entries[entry].firstPiece; index < end; ++index) {
            const LogPiece& piece = list.pieces[index];
            const DWORD first = piece.offset / PageBytes;
            const DWORD last = first + piece.size / PageBytes;
            for (DWORD page = first; page < last && page < limit; ++page) {
                owner[page] = static_cast<DWORD>(index);
            }
        }
    }
}

// A run is a stretch of pages whose bytes follow one another in one log.
DWORD MakeRuns(const LogPieces& list, const DWORD* owner, DWORD pages, LogReplay* replay) {
    size_t capacity = 0;
    for (DWORD page = 0; page < pages;) {
        if (owner[page] == NoOwner) {
            ++page;
            continue;
        }
        const LogPiece& piece = list.pieces[owner[page]];
        LogRun run = {
            page * PageBytes, 0, piece.log,
            piece.fileOffset + (static_cast<unsigned long long>(page) * PageBytes - piece.offset)};
        do {
            run.size += PageBytes;
            ++page;
        } while (page < pages && owner[page] != NoOwner &&
                 list.pieces[owner[page]].log == run.log &&
                 list.pieces[owner[page]].fileOffset +
                         (static_cast<unsigned long long>(page) * PageBytes -
                          list.pieces[owner[page]].offset) ==
                     run.fileOffset + run.size);
        if (!Append(&replay->runs, &replay->runCount, &capacity, run)) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

LogPieces::~LogPieces() {
    if (pieces) HeapFree(GetProcessHeap(), 0, pieces);
    if (entries) HeapFree(GetProcessHeap(), 0, entries);
}

bool BeginLogEntry(LogPieces* list, DWORD binsSize) {
    const LogEntryMark mark = {binsSize, list->count};
    return Append(&list->entries, &list->entryCount, &list->entryCapacity, mark);
}

bool AddLogPiece(LogPieces* list, DWORD offset, DWORD size, DWORD log,
                 unsigned long long fileOffset) {
    const LogPiece piece = {offset, size, fileOffset, log};
    return Append(&list->pieces, &list->count, &list->capacity, piece);
}

void DropLastLogEntry(LogPieces* list) {
    if (list->entryCount == 0) return;
    list->count = list->entries[--list->entryCount].firstPiece;
}

DWORD BuildLogRuns(const LogPieces& list, DWORD binsDataSize, LogReplay* replay) {
    FreeLogRuns(replay);
    const DWORD pages = binsDataSize / PageBytes;
    if (pages == 0 || list.count == 0) return ERROR_SUCCESS;
    HeapArray<DWORD> owner;
    HeapArray<DWORD> keptBelow;
    if (!owner.Resize(pages) || !keptBelow.Resize(list.entryCount)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD smallest = binsDataSize;
    for (size_t entry = list.entryCount; entry-- > 0;) {
        if (list.entries[entry].binsSize < smallest) smallest = list.entries[entry].binsSize;
        keptBelow[entry] = smallest;
    }
    memset(owner.data(), 0xFF, pages * sizeof(DWORD));
    MarkOwners(list, keptBelow.data(), owner.data(), pages);
    const DWORD error = MakeRuns(list, owner.data(), pages, replay);
    if (error != ERROR_SUCCESS) FreeLogRuns(replay);
    return error;
}

void FreeLogRuns(LogReplay* replay) {
    if (replay->runs) HeapFree(GetProcessHeap(), 0, replay->runs);
    replay->runs = nullptr;
    replay->runCount = 0;
}
