// copy_driver MIB ROUNDS FOLDER
//
// Writes a file of MIB mebibytes into FOLDER, then copies it with CopyFileRaw
// and with the platform's CopyFileW: one warm-up copy each, then ROUNDS timed
// copies each, the two taking turns to go first. The target is deleted before
// every copy, outside the timing, so each copy makes a new file. Prints
//   raw SECONDS platform SECONDS
// with the median time of each.
#include <windows.h>

#include <strsafe.h>

#include <stdio.h>
#include <stdlib.h>
#include <vector>

#include "shared/owned_handle.h"
#include "backup/raw_copy.h"
#include "timing.h"

namespace {

constexpr DWORD BlockBytes = 1u << 20;

bool WriteSource(const wchar_t* path, unsigned mebibytes) {
    FileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    std::vector<BYTE> block(BlockBytes);
    unsigned state = 2463534242u;
    for (unsigned done = 0; done < mebibytes; ++done) {
        // Different bytes in every block, so nothing below can fold them.
        for (BYTE& b : block) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            b = static_cast<BYTE>(state);
        }
        DWORD written = 0;
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

bool CopyRaw(const wchar_t* source, const wchar_t* target) { return CopyFileRaw(source, target); }

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

bool BuildFilePath(wchar_t* path, size_t capacity, const wchar_t* folder, const wchar_t* name) {
    return SUCCEEDED(StringCchPrintfW(path, capacity, L"%s\\%s", folder, name));
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

    wchar_t source[MAX_PATH], rawTarget[MAX_PATH], platformTarget[MAX_PATH];
    if (!BuildFilePath(source, MAX_PATH, argv[3], L"HIVE.SOURCE") ||
        !BuildFilePath(rawTarget, MAX_PATH, argv[3], L"HIVE.RAW") ||
        !BuildFilePath(platformTarget, MAX_PATH, argv[3], L"HIVE.PLATFORM")) {
        fprintf(stderr, "copy_driver: folder path too long\n");
        return 2;
    }
    CreateDirectoryW(argv[3], nullptr);
    if (!WriteSource(source, mebibytes)) {
        fprintf(stderr, "copy_driver: cannot write %ls (error %lu)\n", source, GetLastError());
        return 1;
    }

    Contestant raw{rawTarget, CopyRaw, {}};
    Contestant platform{platformTarget, CopyPlatform, {}};
    bool copied = TimedCopy(source, &raw, false) && TimedCopy(source, &platform, false);
    for (int round = 0; copied && round < rounds; ++round) {
        Contestant* first = round % 2 ? &platform : &raw;
        Contestant* second = round % 2 ? &raw : &platform;
        copied = TimedCopy(source, first, true) && TimedCopy(source, second, true);
    }
    const DWORD error = copied ? ERROR_SUCCESS : GetLastError();
    DeleteFileW(source);
    DeleteFileW(rawTarget);
    DeleteFileW(platformTarget);
    if (!copied) {
        fprintf(stderr, "copy_driver: a copy failed (error %lu, raw copy error %lu)\n", error,
                LastCopyError);
        return 1;
    }
    printf("raw %.6f platform %.6f\n", Median(raw.seconds), Median(platform.seconds));
    return 0;
}
