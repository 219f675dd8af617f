// The new log format: after the base block copy, entries of a multiple of
// 512 bytes, each "HvLE", its size, flags, sequence number, hive bins data
// size and page count, two Marvin32 hashes, the page references and the
// pages. Hash-2 guards the first 32 bytes, Hash-1 everything after the
// hashes. Entries apply while their numbers follow on from the one the
// hive expects; a bad entry stops the log it is in.
#include <string.h>
#include <strsafe.h>

#include "hive/log_formats.h"
#include "hive/marvin32.h"
#include "hive/regf_layout.h"

namespace {

struct Walk {
    const LogFile* logs;
    DWORD log;  // the log walked
    DWORD* expected;
    LogWindow* window;
    LogPieces* pieces;
    LogPlan* plan;
    wchar_t* stopped;
};

void Say(const Walk& walk, const wchar_t* what) {
    StringCchPrintfW(walk.stopped, LogStoppedCapacity, L"log entry %lu in %ls %ls", *walk.expected,
                     walk.logs[walk.log].suffix, what);
}

enum class PageCheck { Whole, Bad, NoMemory };

// Takes an entry's page references as its bytes go by.
struct References {
    const Walk* walk;
    DWORD left;  // references still to come
    DWORD binsSize;
    unsigned long long pageAt;  // where the next page's bytes sit in the log
    unsigned long long entryEnd;
    PageCheck check;
};

void TakeReference(References* refs, const BYTE* reference) {
    --refs->left;
    const DWORD offset = regf::ReadDword(reference);
    const DWORD size = regf::ReadDword(reference + 4);
    if (refs->check != PageCheck::Whole) return;
    if (size == 0 || offset % regf::OldLogPageBytes != 0 || size % regf::OldLogPageBytes != 0 ||
        static_cast<unsigned long long>(offset) + size > refs->binsSize ||
        refs->pageAt + size > refs->entryEnd) {
        refs->check = PageCheck::Bad;
    } else if (!AddLogPiece(refs->walk->pieces, offset, size, refs->walk->log, refs->pageAt)) {
        refs->check = PageCheck::NoMemory;
    }
    refs->pageAt += size;
}

// Entries and windows start on 512-byte boundaries, and a window ends on one
// unless the log ends there, so no piece of an entry ends inside a
// reference; one that would is taken as a bad entry rather than trusted.
void FeedReferences(References* refs, const BYTE* bytes, DWORD count) {
    DWORD at = 0;
    for (; refs->left > 0 && count - at >= regf::LogPageReferenceBytes;
         at += regf::LogPageReferenceBytes) {
        TakeReference(refs, bytes + at);
    }
    if (refs->left > 0 && at < count) refs->check = PageCheck::Bad;
}

// Hashes the entry at pos from its first page reference on and gathers its
// pages as pieces; the caller takes them back unless all is well.
DWORD ReadEntryBody(const Walk& walk, unsigned long long pos, DWORD size, DWORD binsSize,
                    DWORD pageCount, unsigned long long* hash, PageCheck* check) {
    const LogFile& log = walk.logs[walk.log];
    Marvin32 state;
    Marvin32Begin(&state, regf::LogEntryHashSeed);
    References refs = {};
    refs.walk = &walk;
    refs.left = pageCount;
    refs.binsSize = binsSize;
    refs.pageAt = pos + regf::LogEntryHeaderBytes +
                  static_cast<unsigned long long>(pageCount) * regf::LogPageReferenceBytes;
    refs.entryEnd = pos + size;
    refs.check = PageCheck::Whole;
    for (unsigned long long at = pos + regf::LogEntryHeaderBytes; at < refs.entryEnd;) {
        const unsigned long long rest = refs.entryEnd - at;
        const BYTE* bytes = nullptr;
        DWORD count = 0;
        const DWORD error = LogBytesAhead(
            walk.window, log, at, rest < WindowBytes ? static_cast<DWORD>(rest) : WindowBytes,
            &bytes, &count);
        if (error != ERROR_SUCCESS) return error;
        Marvin32Feed(&state, bytes, count);
        FeedReferences(&refs, bytes, count);
        at += count;
    }
    *hash = Marvin32End(&state);
    *check = refs.check;
    return ERROR_SUCCESS;
}

// Applies the entries of one log from its second sector on, while each is
// whole and numbered *expected. Stops quietly at the log's end or at an
// older entry; says why when it stops at a bad or out-of-turn entry.
DWORD WalkEntries(const Walk& walk) {
    const LogFile& log = walk.logs[walk.log];
    for (unsigned long long pos = log.sectorBytes; pos + 4 <= log.size;) {
        const DWORD headerBytes = log.size - pos < regf::LogEntryHeaderBytes
                                      ? static_cast<DWORD>(log.size - pos)
                                      : regf::LogEntryHeaderBytes;
        const BYTE* bytes = nullptr;
        DWORD error = LogBytes(walk.window, log, pos, headerBytes, &bytes);
        if (error != ERROR_SUCCESS) return error;
        BYTE header[regf::LogEntryHeaderBytes] = {};  // kept: reading the body moves the window
        memcpy(header, bytes, headerBytes);
        if (memcmp(header, "HvLE", 4) != 0) return ERROR_SUCCESS;
        if (headerBytes < regf::LogEntryHeaderBytes) {
            Say(walk, L"is cut short");
            return ERROR_SUCCESS;
        }
        if (Marvin32Hash(header, regf::LogEntryHash2Offset, regf::LogEntryHashSeed) !=
            regf::ReadQword(header + regf::LogEntryHash2Offset)) {
            Say(walk, L"has a wrong Hash-2");
            return ERROR_SUCCESS;
        }
        const DWORD sequence = regf::ReadDword(header + regf::LogEntrySequenceOffset);
        if (sequence != *walk.expected) {
            if (sequence > *walk.expected) {
                StringCchPrintfW(walk.stopped, LogStoppedCapacity,
                                 L"%ls holds log entry %lu where %lu should be", log.suffix,
                                 sequence, *walk.expected);
            }
            return ERROR_SUCCESS;
        }
        const DWORD size = regf::ReadDword(header + regf::LogEntrySizeOffset);
        const DWORD binsSize = regf::ReadDword(header + regf::LogEntryBinsSizeOffset);
        const DWORD pageCount = regf::ReadDword(header + regf::LogEntryPageCountOffset);
        if (binsSize == 0 || binsSize % regf::BinAlignment != 0) {
            Say(walk, L"has a wrong hive bins data size");
            return ERROR_SUCCESS;
        }
        if (size % regf::LogEntryAlignment != 0 || size < regf::LogEntryHeaderBytes ||
            (size - regf::LogEntryHeaderBytes) / regf::LogPageReferenceBytes < pageCount) {
            Say(walk, L"has a wrong size");
            return ERROR_SUCCESS;
        }
        if (size > log.size - pos) {
            Say(walk, L"is cut short");
            return ERROR_SUCCESS;
        }
        if (!BeginLogEntry(walk.pieces, binsSize)) return ERROR_NOT_ENOUGH_MEMORY;
        unsigned long long hash = 0;
        PageCheck check = PageCheck::Whole;
        error = ReadEntryBody(walk, pos, size, binsSize, pageCount, &hash, &check);
        if (error != ERROR_SUCCESS) return error;
        if (check == PageCheck::NoMemory) return ERROR_NOT_ENOUGH_MEMORY;
        if (hash != regf::ReadQword(header + regf::LogEntryHash1Offset) ||
            check == PageCheck::Bad) {
            DropLastLogEntry(walk.pieces);
            Say(walk, check == PageCheck::Bad ? L"has a page outside its hive bins data"
                                              : L"has a wrong Hash-1");
            return ERROR_SUCCESS;
        }
        LogPlan* plan = walk.plan;
        ++plan->entries;
        plan->binsDataSize = binsSize;
        if (binsSize < plan->smallestBinsSize) plan->smallestBinsSize = binsSize;
        plan->lastEntryFlags = true;
        plan->flags = regf::ReadDword(header + regf::LogEntryFlagsOffset);
        walk.stopped[0] = L'\0';  // an earlier log's stop is made good
        ++*walk.expected;
        pos += size;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD ReplayLogEntries(const LogFile* logs, const LogPrimary& primary, const wchar_t* setAside,
                       LogPieces* pieces, LogPlan* plan, wchar_t* stopped) {
    // The logs in the order of their first entries; a damaged primary takes
    // the one with the latest entries alone, and its base block with it.
    DWORD order[LogFileCount];
    size_t count = 0;
    for (DWORD i = 0; i < LogFileCount; ++i) {
        if (logs[i].kind != LogKind::New) continue;
        size_t at = count++;
        for (; at > 0 && LogSequence(logs[order[at - 1]]) > LogSequence(logs[i]); --at) {
            order[at] = order[at - 1];
        }
        order[at] = i;
    }
    if (count == 0) return ERROR_SUCCESS;
    DWORD expected = primary.secondarySequence;
    plan->baseFrom = -1;
    if (!primary.baseValid) {
        order[0] = order[count - 1];
        count = 1;
        plan->baseFrom = static_cast<int>(order[0]);
        expected = LogSequence(logs[order[0]]);
    }
    plan->used = true;
    plan->smallestBinsSize = 0xFFFFFFFF;

    LogWindow window;
    bool missing = false;  // entries that no log used holds
    for (size_t k = 0; k < count; ++k) {
        const DWORD first = LogSequence(logs[order[k]]);
        if (first < expected) continue;  // entries the primary already holds
        if (first > expected) {
            if (stopped[0] == L'\0') {
                StringCchPrintfW(stopped, LogStoppedCapacity,
                                 first - 1 == expected ? L"log entry %lu is missing"
                                                       : L"log entries %lu to %lu are missing",
                                 expected, first - 1);
                missing = true;
            }
            break;
        }
        const Walk walk = {logs, order[k], &expected, &window, pieces, plan, stopped};
        const DWORD error = WalkEntries(walk);
        if (error != ERROR_SUCCESS) return error;
    }
    if (plan->entries == 0 && stopped[0] == L'\0') {
        StringCchPrintfW(stopped, LogStoppedCapacity, L"no log holds log entry %lu", expected);
        missing = true;
    }
    // The entries missing were most likely in the log set aside.
    if (missing && setAside) StringCchCopyW(stopped, LogStoppedCapacity, setAside);
    plan->sequence = expected;
    return ERROR_SUCCESS;
}
