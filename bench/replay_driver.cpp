// replay_driver MIB ENTRIES ROUNDS FOLDER
//
// Writes into FOLDER a dirty hive of MIB mebibytes of bins and ENTRIES
// new-format log entries, the first half in its .LOG1 and the rest in its
// .LOG2, each entry a few 4 KiB pages at random places with its Marvin32
// hashes; every 100th entry grows the bins by 256 KiB. Then times three
// things in turns, one warm-up each and ROUNDS timed runs: the replay of the
// logs, the replay with the recovered image written to a new file (as revert
// /online does), and CopyFileW of the primary file. Prints
//   replay SECONDS written SECONDS copy SECONDS replay/copy R written/copy R
// with the median of each and the medians of the round-by-round ratios.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "hive/log_replay.h"
#include "hive/regf_layout.h"
#include "realistic_hive.h"
#include "shared/owned_handle.h"
#include "timing.h"

namespace {

constexpr DWORD BlockBytes = 1u << 20;
constexpr DWORD BinBytes = 0x10000;
constexpr DWORD PageBytes = 4096;
constexpr DWORD GrowthBytes = 0x40000;
constexpr DWORD FirstSequence = 9;
constexpr unsigned long long LastWritten = 0x01D295059E68E89Eull;

unsigned RandomState = 2463534242u;
unsigned NextRandom() { return NextXorshift(&RandomState); }

void FillRandom(BYTE* bytes, size_t count) {
    for (size_t i = 0; i + 4 <= count; i += 4) regf::WriteDword(bytes + i, NextRandom());
}

// Bins of 64 KiB, each a bin header and one allocated cell of random bytes;
// binsOffset is where the bytes go in the hive bins data.
void FillBins(BYTE* bytes, DWORD count, DWORD binsOffset) {
    FillRandom(bytes, count);
    for (DWORD bin = (BinBytes - binsOffset % BinBytes) % BinBytes; bin < count; bin += BinBytes) {
        memcpy(bytes + bin, "hbin", 4);
        regf::WriteDword(bytes + bin + 4, binsOffset + bin);
        regf::WriteDword(bytes + bin + 8, BinBytes);
        regf::WriteDword(bytes + bin + 32, static_cast<DWORD>(-static_cast<LONG>(BinBytes - 32)));
    }
}

void BaseBlock(BYTE* base, DWORD type, DWORD primary, DWORD secondary, DWORD binsSize) {
    memset(base, 0, regf::BaseBlockBytes);
    memcpy(base, "regf", 4);
    regf::WriteDword(base + regf::PrimarySequenceOffset, primary);
    regf::WriteDword(base + regf::SecondarySequenceOffset, secondary);
    regf::WriteDword(base + regf::LastWrittenOffset, static_cast<DWORD>(LastWritten));
    regf::WriteDword(base + regf::LastWrittenOffset + 4, static_cast<DWORD>(LastWritten >> 32));
    regf::WriteDword(base + regf::MajorVersionOffset, 1);
    regf::WriteDword(base + regf::MinorVersionOffset, 5);
    regf::WriteDword(base + regf::FileTypeOffset, type);
    regf::WriteDword(base + regf::FileFormatOffset, 1);
    regf::WriteDword(base + regf::RootCellOffset, 32);
    regf::WriteDword(base + regf::BinsDataSizeOffset, binsSize);
    regf::WriteDword(base + regf::ClusteringFactorOffset, 1);
    regf::WriteDword(base + regf::ChecksumOffset, regf::BaseBlockChecksum(base));
}

bool WriteAll(HANDLE file, const void* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

bool WritePrimary(const std::wstring& path, unsigned mebibytes) {
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    std::vector<BYTE> block(BlockBytes);
    BaseBlock(block.data(), regf::FileTypePrimary, FirstSequence + 1, FirstSequence,
              mebibytes * BlockBytes);
    if (!WriteAll(file.get(), block.data(), regf::BaseBlockBytes)) return false;
    for (unsigned done = 0; done < mebibytes; ++done) {
        FillBins(block.data(), BlockBytes, done * BlockBytes);
        if (!WriteAll(file.get(), block.data(), BlockBytes)) return false;
    }
    return true;
}

// One entry: one to eight pages somewhere in the bins, or, every 100th, the
// new bins that grow them.
std::vector<BYTE> MakeEntry(DWORD sequence, DWORD* binsSize) {
    std::vector<std::pair<DWORD, DWORD>> spans;
    if (sequence % 100 == 0) {
        spans.push_back({*binsSize, GrowthBytes});
        *binsSize += GrowthBytes;
    } else {
        for (unsigned count = 1 + NextRandom() % 8; count > 0; --count) {
            spans.push_back({NextRandom() % (*binsSize / PageBytes) * PageBytes, PageBytes});
        }
    }
    std::vector<std::vector<BYTE>> bytes(spans.size());
    std::vector<LogPage> pages;
    for (size_t i = 0; i < spans.size(); ++i) {
        bytes[i].resize(spans[i].second);
        FillBins(bytes[i].data(), spans[i].second, spans[i].first);
        pages.push_back({spans[i].first, bytes[i].data(), spans[i].second});
    }
    return NewLogEntry(sequence, *binsSize, pages);
}

bool WriteLogs(const std::wstring& primary, unsigned mebibytes, DWORD entries) {
    DWORD binsSize = mebibytes * BlockBytes;
    DWORD sequence = FirstSequence;
    const DWORD halves[] = {entries / 2, entries - entries / 2};
    const wchar_t* suffixes[] = {L".LOG1", L".LOG2"};
    for (int half = 0; half < 2; ++half) {
        FileHandle file(CreateFileW((primary + suffixes[half]).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr));
        if (!file) return false;
        BYTE base[regf::BaseBlockBytes];
        BaseBlock(base, regf::FileTypeLogNew, sequence, sequence, binsSize);
        if (!WriteAll(file.get(), base, regf::LogSectorBytes)) return false;
        for (DWORD i = 0; i < halves[half]; ++i) {
            const std::vector<BYTE> entry = MakeEntry(sequence++, &binsSize);
            if (!WriteAll(file.get(), entry.data(), static_cast<DWORD>(entry.size()))) return false;
        }
    }
    return true;
}

struct Contestant {
    bool (*run)(const std::wstring& primary, const std::wstring& target);
    std::vector<double> seconds;
};

DWORD ExpectedEntries = 0;

bool Replay(const std::wstring& primary, const std::wstring&) {
    LogReplay replay;
    return ReplayHiveLogs(primary.c_str(), &replay) == ERROR_SUCCESS && replay.recovered &&
           replay.entries == ExpectedEntries;
}

bool ReplayAndWrite(const std::wstring& primary, const std::wstring& target) {
    LogReplay replay;
    return ReplayHiveLogs(primary.c_str(), &replay) == ERROR_SUCCESS && replay.recovered &&
           replay.entries == ExpectedEntries &&
           WriteRecoveredImage(replay, primary.c_str(), target.c_str()) == ERROR_SUCCESS;
}

bool Copy(const std::wstring& primary, const std::wstring& target) {
    return CopyFileW(primary.c_str(), target.c_str(), FALSE) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: replay_driver MIB ENTRIES ROUNDS FOLDER\n");
        return 2;
    }
    const unsigned mebibytes = static_cast<unsigned>(wcstoul(argv[1], nullptr, 10));
    ExpectedEntries = static_cast<DWORD>(wcstoul(argv[2], nullptr, 10));
    const int rounds = _wtoi(argv[3]);
    if (mebibytes == 0 || mebibytes > 1024 || ExpectedEntries == 0 || rounds < 1) {
        fprintf(stderr, "replay_driver: MIB (up to 1024), ENTRIES and ROUNDS must be positive\n");
        return 2;
    }
    const std::wstring folder = argv[4];
    const std::wstring primary = folder + L"\\DIRTY";
    const std::wstring target = folder + L"\\TARGET";
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!WritePrimary(primary, mebibytes) || !WriteLogs(primary, mebibytes, ExpectedEntries)) {
        fprintf(stderr, "replay_driver: cannot write the hive (error %lu)\n", GetLastError());
        return 1;
    }

    Contestant contestants[] = {{Replay, {}}, {ReplayAndWrite, {}}, {Copy, {}}};
    bool ran = true;
    for (int round = -1; ran && round < rounds; ++round) {
        for (int k = 0; ran && k < 3; ++k) {
            Contestant& contestant = contestants[(round + 3 + k) % 3];
            DeleteFileW(target.c_str());
            const double start = NowSeconds();
            ran = contestant.run(primary, target);
            if (round >= 0) contestant.seconds.push_back(NowSeconds() - start);
        }
    }
    for (const wchar_t* suffix : {L"", L".LOG1", L".LOG2"}) DeleteFileW((primary + suffix).c_str());
    DeleteFileW(target.c_str());
    if (!ran) {
        fprintf(stderr, "replay_driver: a replay or a copy failed\n");
        return 1;
    }
    std::vector<double> replayToCopy, writtenToCopy;
    for (size_t i = 0; i < contestants[0].seconds.size(); ++i) {
        replayToCopy.push_back(contestants[0].seconds[i] / contestants[2].seconds[i]);
        writtenToCopy.push_back(contestants[1].seconds[i] / contestants[2].seconds[i]);
    }
    printf("replay %.6f written %.6f copy %.6f replay/copy %.4f written/copy %.4f\n",
           Median(contestants[0].seconds), Median(contestants[1].seconds),
           Median(contestants[2].seconds), Median(replayToCopy), Median(writtenToCopy));
    return 0;
}
