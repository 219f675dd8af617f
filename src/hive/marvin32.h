#pragma once
// Marvin32, the keyed hash that guards each entry of a new-format hive log.
// The bytes may come in pieces of any size: the hash is the same as for all
// of them at once.
#include <windows.h>

#include <stddef.h>

struct Marvin32 {
    DWORD low;
    DWORD high;
    DWORD pending;  // bytes waiting for a whole 32-bit word, the first lowest
    DWORD pendingCount;
};

void Marvin32Begin(Marvin32* state, unsigned long long seed);
void Marvin32Feed(Marvin32* state, const BYTE* bytes, size_t count);
unsigned long long Marvin32End(Marvin32* state);

unsigned long long Marvin32Hash(const BYTE* bytes, size_t count, unsigned long long seed);
