#include "hive/marvin32.h"

#include "hive/regf_layout.h"

namespace {

inline DWORD RotateLeft(DWORD value, int bits) { return value << bits | value >> (32 - bits); }

inline void Mix(DWORD* low, DWORD* high) {
    *high ^= *low;
    *low = RotateLeft(*low, 20);
    *low += *high;
    *high = RotateLeft(*high, 9);
    *high ^= *low;
    *low = RotateLeft(*low, 27);
    *low += *high;
    *high = RotateLeft(*high, 19);
}

}  // namespace

void Marvin32Begin(Marvin32* state, unsigned long long seed) {
    state->low = static_cast<DWORD>(seed);
    state->high = static_cast<DWORD>(seed >> 32);
    state->pending = 0;
    state->pendingCount = 0;
}

void Marvin32Feed(Marvin32* state, const BYTE* bytes, size_t count) {
    DWORD low = state->low;
    DWORD high = state->high;
    size_t at = 0;
    while (state->pendingCount != 0 && at < count) {
        state->pending |= static_cast<DWORD>(bytes[at++]) << (8 * state->pendingCount);
        if (++state->pendingCount == 4) {
            low += state->pending;
            Mix(&low, &high);
            state->pending = 0;
            state->pendingCount = 0;
        }
    }
    for (; count - at >= 4; at += 4) {
        low += regf::ReadDword(bytes + at);
        Mix(&low, &high);
    }
    for (; at < count; ++at) {
        state->pending |= static_cast<DWORD>(bytes[at]) << (8 * state->pendingCount++);
    }
    state->low = low;
    state->high = high;
}

// The last word holds the bytes left over and a closing 0x80 after them.
unsigned long long Marvin32End(Marvin32* state) {
    DWORD low = state->low + (state->pending | 0x80u << (8 * state->pendingCount));
    DWORD high = state->high;
    Mix(&low, &high);
    Mix(&low, &high);
    return static_cast<unsigned long long>(high) << 32 | low;
}

unsigned long long Marvin32Hash(const BYTE* bytes, size_t count, unsigned long long seed) {
    Marvin32 state;
    Marvin32Begin(&state, seed);
    Marvin32Feed(&state, bytes, count);
    return Marvin32End(&state);
}
