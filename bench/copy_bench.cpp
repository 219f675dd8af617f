// Copies one large file with CopyFileRaw and with the platform's CopyFileW,
// several times each, and reports the median of each and their ratio.
#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <vector>

#include "app/owned_handle.h"
#include "backup/raw_copy.h"

namespace {

constexpr DWORD FileBytes = 64u * 1024 * 1024;
constexpr int Rounds = 7;

bool MakeSource(const wchar_t* path) {
    FileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    std::vector<BYTE> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(i * 31 + 7);
    for (DWORD done = 0; done < FileBytes; done += static_cast<DWORD>(block.size())) {
        DWORD written = 0;
        if (!WriteFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &written,
                       nullptr)) {
            return false;
        }
    }
    return true;
}

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

template <class Copy>
double MedianSeconds(Copy copy) {
    std::vector<double> times;
    for (int round = 0; round < Rounds; ++round) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        if (!copy()) return -1;
        QueryPerformanceCounter(&end);
        times.push_back(Seconds(start, end));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int wmain() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    wchar_t source[MAX_PATH], target[MAX_PATH];
    swprintf(source, MAX_PATH, L"%lszel-bench-source", folder);
    swprintf(target, MAX_PATH, L"%lszel-bench-target", folder);
    if (!MakeSource(source)) {
        fprintf(stderr, "cannot write %ls\n", source);
        return 1;
    }

    double baseline = MedianSeconds([&] { return CopyFileW(source, target, FALSE) != FALSE; });
    double raw = MedianSeconds([&] { return CopyFileRaw(source, target); });
    DeleteFileW(source);
    DeleteFileW(target);
    if (baseline <= 0 || raw <= 0) {
        fprintf(stderr, "a copy failed\n");
        return 1;
    }
    printf("copy of %u MiB, median of %d rounds\n", static_cast<unsigned>(FileBytes >> 20), Rounds);
    printf("  CopyFileW (baseline): %.4f s\n", baseline);
    printf("  CopyFileRaw:          %.4f s\n", raw);
    printf("  ratio CopyFileRaw / CopyFileW: %.2f\n", raw / baseline);
    return 0;
}
