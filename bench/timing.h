// Wall-clock timing for the in-process drivers.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

inline double NowSeconds() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The next number of a xorshift sequence kept in `state` (never 0): the
// benchmarks' data, the same on every run.
inline unsigned NextXorshift(unsigned* state) {
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}
