#include "hive/log_runs.h"

#include <string.h>

#include "hive/regf_layout.h"
#include "shared/heap_array.h"

namespace {

constexpr DWORD PageBytes = regf::OldLogPageBytes;
constexpr DWORD NoOwner = 0xFFFFFFFF;

// Marks each page of the image with the last piece applied to it. A piece's
// pages at or past the smallest bins data size set from its entry on are
// dropped: a shrink frees them, and bins grown again start out empty.
void MarkOwners(const LogPieces& list, const DWORD* keptBelow, DWORD* owner, DWORD pages) {
    for (size_t entry = 0; entry < list.entries.size(); ++entry) {
        const DWORD limit =
            keptBelow[entry] / PageBytes < pages ? keptBelow[entry] / PageBytes : pages;
        const size_t end = entry + 1 < list.entries.size() ? list.entries[entry + 1].firstPiece
                                                           : list.pieces.size();
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
        if (!replay->runs.Append(run)) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

bool BeginLogEntry(LogPieces* list, DWORD binsSize) {
    const LogEntryMark mark = {binsSize, list->pieces.size()};
    return list->entries.Append(mark);
}

bool AddLogPiece(LogPieces* list, DWORD offset, DWORD size, DWORD log,
                 unsigned long long fileOffset) {
    const LogPiece piece = {offset, size, fileOffset, log};
    return list->pieces.Append(piece);
}

void DropLastLogEntry(LogPieces* list) {
    const size_t entries = list->entries.size();
    if (entries == 0) return;
    list->pieces.Shorten(list->entries[entries - 1].firstPiece);
    list->entries.Shorten(entries - 1);
}

DWORD BuildLogRuns(const LogPieces& list, DWORD binsDataSize, LogReplay* replay) {
    replay->runs = HeapArray<LogRun>();
    const DWORD pages = binsDataSize / PageBytes;
    if (pages == 0 || list.pieces.size() == 0) return ERROR_SUCCESS;
    HeapArray<DWORD> owner;
    HeapArray<DWORD> keptBelow;
    if (!owner.Resize(pages) || !keptBelow.Resize(list.entries.size())) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD smallest = binsDataSize;
    for (size_t entry = list.entries.size(); entry-- > 0;) {
        if (list.entries[entry].binsSize < smallest) smallest = list.entries[entry].binsSize;
        keptBelow[entry] = smallest;
    }
    memset(owner.data(), 0xFF, pages * sizeof(DWORD));
    MarkOwners(list, keptBelow.data(), owner.data(), pages);
    const DWORD error = MakeRuns(list, owner.data(), pages, replay);
    if (error != ERROR_SUCCESS) replay->runs = HeapArray<LogRun>();
    return error;
}
