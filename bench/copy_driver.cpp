// copy_driver MIB ROUNDS FOLDER
//
// Writes a regf hive of realistic shape with MIB mebibytes of bins into
// FOLDER (bench/realistic_hive.h), then copies it three ways: with
// CopyLiveFile alone, with CopyLiveHive, which copies the hive with its logs
// and checks it (as zel does with every copied hive), and with the
// platform's CopyFileW. One
// warm-up copy each, then ROUNDS timed copies each, taking turns to go
// first. The target is deleted before every copy, outside the timing, so
// each copy makes a new file. Prints
//   raw SECONDS checked SECONDS platform SECONDS raw/platform R checked/raw R
//   keys K values V
// with the median time of each, the medians of the round-by-round ratios,
// and what the hive holds.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "backup/live_copy.h"
#include "realistic_hive.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "shared/platform.h"
#include "timing.h"

namespace {

struct Contestant {
    const wchar_t* target;
    bool (*copy)(const wchar_t* source, const wchar_t* target);
    std::vector<double> seconds;
};

bool CopyRaw(const wchar_t* source, const wchar_t* target) { return CopyLiveFile(source, target); }

// The copier lives across the rounds, as zel's does across a run's profiles.
HiveCopier* Copier = nullptr;

// A copy whose hive fails its check does not count as a copy: the figure
// would otherwise time a check that gave up early.
bool CopyChecked(const wchar_t* source, const wchar_t* target) {
    HiveCheckResult verdict{};
    DWORD logs = ERROR_SUCCESS;
    return CopyLiveHive(Copier, source, target, &verdict, &logs) && verdict.passed;
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
    RealisticHive hive;
    if (!WriteRealisticHive(source, mebibytes, 0, &hive)) {
        fprintf(stderr, "copy_driver: cannot write %ls (error %lu)\n", source, GetLastError());
        return 1;
    }

    HiveCopier copier;
    Copier = &copier;
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
    printf(
        "raw %.6f checked %.6f platform %.6f raw/platform %.4f checked/raw %.4f keys %lu values "
        "%lu\n",
        Median(contestants[0].seconds), Median(contestants[1].seconds),
        Median(contestants[2].seconds), Median(rawToPlatform), Median(checkedToRaw), hive.keys,
        hive.values);
    return 0;
}
