// copy_driver MIB ROUNDS FOLDER
//
// Writes a regf hive of MIB mebibytes of bins into FOLDER (bins full of cells of
// many sizes), then copies it three ways: with CopyLiveFile alone, with
// CopyLiveFile checking the hive as it goes (as zel's CONFIG fallback does),
// and with the platform's CopyFileW. One warm-up copy each, then ROUNDS timed
// copies each, taking turns to go first. The target is deleted before every
// copy, outside the timing, so each copy makes a new file. Prints
//   raw SECONDS checked SECONDS platform SECONDS raw/platform R checked/raw R
// with the median time of each and the medians of the round-by-round ratios.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "backup/live_copy.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "timing.h"

namespace {

constexpr DWORD BlockBytes = 1u << 20;
constexpr DWORD BinBytes = 0x10000;

unsigned RandomState = 2463534242u;
unsigned NextRandom() {
    RandomState ^= RandomState << 13;
    RandomState ^= RandomState >> 17;
    RandomState ^= RandomState << 5;
    return RandomState;
}

void Put32(BYTE* at, DWORD value) { memcpy(at, &value, sizeof(value)); }

// One mebibyte of hive bins: random bytes (so nothing below can fold them)
// cut into cells of 16 to 1024 bytes, the first cell of the hive a key node.
void FillBins(BYTE* block, DWORD binsOffset) {
    for (DWORD i = 0; i < BlockBytes; i += 4) Put32(block + i, NextRandom());
    for (DWORD bin = 0; bin < BlockBytes; bin += BinBytes) {
        memcpy(block + bin, "hbin", 4);
        Put32(block + bin + 4, binsOffset + bin);
        Put32(block + bin + 8, BinBytes);
        for (DWORD cell = 32; cell < BinBytes;) {
            DWORD size = 16 + (NextRandom() % 127) * 8;
            if (cell + size + 16 > BinBytes) size = BinBytes - cell;
            Put32(block + bin + cell, static_cast<DWORD>(-static_cast<LONG>(size)));
            cell += size;
        }
    }
    if (binsOffset == 0) memcpy(block + 32 + 4, "nk", 2);
}

bool WriteSource(const wchar_t* path, unsigned mebibytes) {
    FileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    BYTE base[4096] = {};
    memcpy(base, "regf", 4);
    Put32(base + 4, 1);
    Put32(base + 8, 1);
    Put32(base + 36, 32);  // the root cell
    Put32(base + 40, mebibytes * BlockBytes);
    DWORD sum = 0;
    for (int i = 0; i < 508; i += 4) {
        DWORD word;
        memcpy(&word, base + i, 4);
        sum ^= word;
    }
    Put32(base + 508, sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum);
    std::vector<BYTE> block(BlockBytes);
    DWORD written = 0;
    if (!WriteFile(file.get(), base, sizeof(base), &written, nullptr)) return false;
    for (unsigned done = 0; done < mebibytes; ++done) {
        FillBins(block.data(), done * BlockBytes);
        if (!WriteFile(file.get(), block.data(), BlockBytes, &written, nullptr) ||
            written != BlockBytes) {
            return false;
        }
    }
    return true;
}

struct Contestant {
    const wchar_t* target;
    bool (*copy)(const wchar_t* source, const wchar_t* target);
    std::vector<double> seconds;
};

bool CopyRaw(const wchar_t* source, const wchar_t* target) { return CopyLiveFile(source, target); }

// A copy whose hive fails its check does not count as a copy: the figure
// would otherwise time a check that gave up early.
bool CopyChecked(const wchar_t* source, const wchar_t* target) {
    HiveCheckResult check{};
    return CopyLiveFile(source, target, &check) && check.passed;
}

bool CopyPlatform(const wchar_t* source, const wchar_t* target) {
    return CopyFileW(source, target, FALSE) != FALSE;
}

// One copy into a fresh target; the time is kept unless this is the warm-up.
bool TimedCopy(const wchar_t* source, Contestant* contestant, bool keep) {
    DeleteFileW(contestant->target);
    const double start = NowSeconds();
    if (!contestant->copy(source, contestant->target)) return false;
    const double elapsed = NowSeconds() - start;
    if (keep) contestant->seconds.push_back(elapsed);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: copy_driver MIB ROUNDS FOLDER\n");
        return 2;
    }
    const unsigned mebibytes = static_cast<unsigned>(wcstoul(argv[1], nullptr, 10));
    const int rounds = _wtoi(argv[2]);
    if (mebibytes == 0 || rounds < 1) {
        fprintf(stderr, "copy_driver: MIB and ROUNDS must be positive\n");
        return 2;
    }

    wchar_t source[MAX_PATH], rawTarget[MAX_PATH], checkedTarget[MAX_PATH],
        platformTarget[MAX_PATH];
    if (!BuildPath(source, MAX_PATH, argv[3], L"HIVE.SOURCE") ||
        !BuildPath(rawTarget, MAX_PATH, argv[3], L"HIVE.RAW") ||
        !BuildPath(checkedTarget, MAX_PATH, argv[3], L"HIVE.CHECKED") ||
        !BuildPath(platformTarget, MAX_PATH, argv[3], L"HIVE.PLATFORM")) {
        fprintf(stderr, "copy_driver: folder path too long\n");
        return 2;
    }
    CreateDirectoryW(argv[3], nullptr);
    if (!WriteSource(source, mebibytes)) {
        fprintf(stderr, "copy_driver: cannot write %ls (error %lu)\n", source, GetLastError());
        return 1;
    }

    Contestant contestants[] = {{rawTarget, CopyRaw, {}},
                                {checkedTarget, CopyChecked, {}},
                                {platformTarget, CopyPlatform, {}}};
    bool copied = true;
    for (int round = -1; copied && round < rounds; ++round) {
        for (int k = 0; copied && k < 3; ++k) {
            copied = TimedCopy(source, &contestants[(round + 3 + k) % 3], round >= 0);
        }
    }
    const DWORD error = copied ? ERROR_SUCCESS : GetLastError();
    if (copied) DeleteFileW(source);
    DeleteFileW(rawTarget);
    DeleteFileW(checkedTarget);
    DeleteFileW(platformTarget);
    if (!copied) {
        fprintf(stderr, "copy_driver: a copy failed (error %lu, raw copy error %lu)\n", error,
                LastCopyError);
        return 1;
    }
    // The three copies of a round meet the same state of the machine, so
    // each ratio is also taken round by round.
    std::vector<double> rawToPlatform, checkedToRaw;
    for (size_t i = 0; i < contestants[0].seconds.size(); ++i) {
        rawToPlatform.push_back(contestants[0].seconds[i] / contestants[2].seconds[i]);
        checkedToRaw.push_back(contestants[1].seconds[i] / contestants[0].seconds[i]);
    }
    printf("raw %.6f checked %.6f platform %.6f raw/platform %.4f checked/raw %.4f\n",
           Median(contestants[0].seconds), Median(contestants[1].seconds),
           Median(contestants[2].seconds), Median(rawToPlatform), Median(checkedToRaw));
    return 0;
}
