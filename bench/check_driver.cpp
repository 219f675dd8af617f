// check_driver KEYS ROUNDS FOLDER
//
// Writes a regf hive of realistic shape with KEYS keys into FOLDER
// (bench/realistic_hive.h) and times its check, once to warm up and then
// ROUNDS times. Prints
//   keys K values V mib M check SECONDS
// with the median time of a check, so that runs at several sizes show how
// the check's time grows with what the hive holds.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "hive/hive_check.h"
#include "hive/hive_memory.h"
#include "realistic_hive.h"
#include "shared/path_join.h"
#include "timing.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: check_driver KEYS ROUNDS FOLDER\n");
        return 2;
    }
    const DWORD keys = wcstoul(argv[1], nullptr, 10);
    const int rounds = _wtoi(argv[2]);
    wchar_t path[MAX_PATH];
    if (keys < 5 || rounds < 1 || !BuildPath(path, MAX_PATH, argv[3], L"HIVE.CHECKED")) {
        fprintf(stderr, "check_driver: KEYS of 5 or more, ROUNDS and a short FOLDER\n");
        return 2;
    }
    CreateDirectoryW(argv[3], nullptr);
    RealisticHive hive;
    if (!WriteRealisticHive(path, 0, keys, &hive)) {
        fprintf(stderr, "check_driver: cannot write %ls (error %lu)\n", path, GetLastError());
        return 1;
    }
    std::vector<double> seconds;
    HiveMemory memory;  // kept across the rounds, so the warm-up pays for fresh pages
    for (int round = -1; round < rounds; ++round) {
        HiveCheckResult verdict{};
        const double start = NowSeconds();
        const DWORD error = CheckHiveFile(path, &verdict, &memory);
        const double elapsed = NowSeconds() - start;
        if (error != ERROR_SUCCESS || !verdict.passed) {
            fprintf(stderr, "check_driver: the hive failed its check (error %lu): %ls\n", error,
                    verdict.problem);
            DeleteFileW(path);
            return 1;
        }
        if (round >= 0) seconds.push_back(elapsed);
    }
    DeleteFileW(path);
    printf("keys %lu values %lu mib %.1f check %.6f\n", hive.keys, hive.values,
           hive.binsBytes / 1048576.0, Median(seconds));
    return 0;
}
