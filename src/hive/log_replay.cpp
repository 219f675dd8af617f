// Which logs belong to the hive, which format replays, and the recovered
// base block. A log belongs when its base block copy is whole and carries the
// hive's last written time (the first bin's copy of it when the primary's
// base block is damaged), or for the old format a time not older than that.
// New-format logs win over old-format ones.
#include "hive/log_replay.h"

#include <string.h>
#include <strsafe.h>

#include <utility>

#include "hive/log_formats.h"
#include "hive/regf_layout.h"

namespace {

constexpr const wchar_t* LogSuffixes[LogFileCount] = {L".LOG1", L".LOG2", L".LOG"};
static_assert(sizeof(LogReplay::stopped) / sizeof(wchar_t) == LogStoppedCapacity,
              "the replays write their reasons into LogReplay::stopped");
static_assert(sizeof(LogReplay::logFiles) / sizeof(FileHandle) == LogFileCount,
              "a run's log index names one of the logs opened");

void Clear(LogReplay* replay) {
    replay->runs = HeapArray<LogRun>();
    for (FileHandle& log : replay->logFiles) log.reset();
    replay->dirty = false;
    replay->recovered = false;
    replay->oldFormat = false;
    replay->entries = 0;
    replay->binsDataSize = 0;
    replay->primaryBinsBytes = 0;
    memset(replay->baseBlock, 0, sizeof(replay->baseBlock));
    replay->stopped[0] = L'\0';
}

DWORD Smaller(unsigned long long a, unsigned long long b) {
    return static_cast<DWORD>(a < b ? a : b);
}

// Why the first log that is there cannot be used, or nullptr.
const wchar_t* SetAside(const LogFile* logs, bool knownTime, wchar_t* text, size_t capacity) {
    for (size_t i = 0; i < LogFileCount; ++i) {
        if (logs[i].kind == LogKind::Damaged) {
            StringCchPrintfW(text, capacity, L"the %ls log's base block is damaged",
                             logs[i].suffix);
            return text;
        }
        if (logs[i].kind == LogKind::Foreign) {
            StringCchPrintfW(text, capacity,
                             knownTime ? L"the %ls log belongs to another hive"
                                       : L"the base block is damaged and no log can be matched "
                                         L"to the hive",
                             logs[i].suffix);
            return text;
        }
    }
    return nullptr;
}

bool HasKind(const LogFile* logs, LogKind kind) {
    for (size_t i = 0; i < LogFileCount; ++i) {
        if (logs[i].kind == kind) return true;
    }
    return false;
}

void FinishBaseBlock(const LogFile* logs, const LogPlan& plan, BYTE* base) {
    if (plan.baseFrom >= 0) {
        const LogFile& log = logs[plan.baseFrom];
        memset(base, 0, regf::BaseBlockBytes);
        memcpy(base, log.head, Smaller(log.sectorBytes, regf::BaseBlockBytes));
    }
    regf::WriteDword(base + regf::FileTypeOffset, regf::FileTypePrimary);
    regf::WriteDword(base + regf::PrimarySequenceOffset, plan.sequence);
    regf::WriteDword(base + regf::SecondarySequenceOffset, plan.sequence);
    regf::WriteDword(base + regf::BinsDataSizeOffset, plan.binsDataSize);
    if (plan.lastEntryFlags) {
        const DWORD flags = regf::ReadDword(base + regf::BaseBlockFlagsOffset);
        regf::WriteDword(base + regf::BaseBlockFlagsOffset, (flags & ~1u) | (plan.flags & 1u));
    }
    regf::WriteDword(base + regf::ChecksumOffset, regf::BaseBlockChecksum(base));
}

DWORD Replay(const wchar_t* primaryPath, LogReplay* replay) {
    FileHandle file(CreateFileW(primaryPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return GetLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    const unsigned long long fileSize = static_cast<unsigned long long>(size.QuadPart);
    BYTE head[regf::BaseBlockBytes + regf::BinHeaderBytes] = {};
    DWORD error = ReadAt(file.get(), 0, head, Smaller(fileSize, sizeof(head)));
    if (error != ERROR_SUCCESS) return error;
    memcpy(replay->baseBlock, head, regf::BaseBlockBytes);

    LogPrimary primary = {};
    primary.baseValid = fileSize >= regf::BaseBlockBytes && memcmp(head, "regf", 4) == 0 &&
                        regf::BaseBlockChecksumRight(head);
    primary.sequence = regf::ReadDword(head + regf::PrimarySequenceOffset);
    primary.secondarySequence = regf::ReadDword(head + regf::SecondarySequenceOffset);
    const unsigned long long fileBins =
        fileSize > regf::BaseBlockBytes ? fileSize - regf::BaseBlockBytes : 0;
    if (primary.baseValid) {
        replay->binsDataSize = regf::ReadDword(head + regf::BinsDataSizeOffset);
        replay->primaryBinsBytes = Smaller(replay->binsDataSize, fileBins);
    }
    replay->dirty = !primary.baseValid || regf::SequencesDiffer(head);
    if (!replay->dirty) return ERROR_SUCCESS;

    const BYTE* firstBin = head + regf::BaseBlockBytes;
    const bool knownTime =
        primary.baseValid || (fileSize >= sizeof(head) && memcmp(firstBin, "hbin", 4) == 0);
    const unsigned long long lastWritten =
        primary.baseValid ? regf::ReadQword(head + regf::LastWrittenOffset)
                          : regf::ReadQword(firstBin + regf::FirstBinTimestampOffset);
    LogFile logs[LogFileCount];
    for (size_t i = 0; i < LogFileCount; ++i) {
        error = OpenLogFile(primaryPath, LogSuffixes[i], knownTime, lastWritten, &logs[i]);
        if (error != ERROR_SUCCESS) return error;
    }
    wchar_t setAsideText[LogStoppedCapacity];
    const wchar_t* setAside = SetAside(logs, knownTime, setAsideText, LogStoppedCapacity);

    LogPieces pieces;
    LogPlan plan = {};
    if (HasKind(logs, LogKind::New)) {
        error = ReplayLogEntries(logs, primary, setAside, &pieces, &plan, replay->stopped);
    } else if (HasKind(logs, LogKind::Old)) {
        replay->oldFormat = true;
        error = ReplayDirtyVector(logs, primary, &pieces, &plan, replay->stopped);
    } else {
        StringCchCopyW(replay->stopped, LogStoppedCapacity,
                       setAside ? setAside : L"no transaction log is beside the hive");
        return ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) return error;
    replay->entries = plan.entries;
    // Nothing applied and something wrong: Windows would have no more to go on
    // than the primary file.
    if (!plan.used || (plan.entries == 0 && replay->stopped[0] != L'\0')) return ERROR_SUCCESS;

    const DWORD primaryBins =
        primary.baseValid ? replay->binsDataSize
                          : regf::ReadDword(logs[plan.baseFrom].head + regf::BinsDataSizeOffset);
    error = BuildLogRuns(pieces, plan.binsDataSize, replay);
    if (error != ERROR_SUCCESS) return error;
    for (size_t i = 0; i < LogFileCount; ++i) replay->logFiles[i] = std::move(logs[i].file);
    replay->primaryBinsBytes = Smaller(Smaller(primaryBins, plan.smallestBinsSize), fileBins);
    replay->binsDataSize = plan.binsDataSize;
    FinishBaseBlock(logs, plan, replay->baseBlock);
    replay->recovered = true;
    return ERROR_SUCCESS;
}

}  // namespace

LogReplay::LogReplay() { Clear(this); }

DWORD ReplayHiveLogs(const wchar_t* primaryPath, LogReplay* replay) {
    Clear(replay);
    const DWORD error = Replay(primaryPath, replay);
    if (error != ERROR_SUCCESS) Clear(replay);
    return error;
}
