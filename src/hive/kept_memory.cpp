#include "hive/kept_memory.h"

namespace {

LONG Taken = 0;
BYTE* Buffers[KeptUses];
size_t Sizes[KeptUses];

}  // namespace

bool TakeKeptMemory() { return InterlockedExchange(&Taken, 1) == 0; }

void ReturnKeptMemory() { InterlockedExchange(&Taken, 0); }

BYTE* KeptBuffer(bool held, size_t use, size_t size) {
    if (held && Buffers[use] && Sizes[use] >= size) return Buffers[use];
    BYTE* fresh = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (held && fresh) {
        if (Buffers[use]) HeapFree(GetProcessHeap(), 0, Buffers[use]);
        Buffers[use] = fresh;
        Sizes[use] = size;
    }
    return fresh;
}

void DoneWithBuffer(bool held, BYTE* buffer) {
    if (!held && buffer) HeapFree(GetProcessHeap(), 0, buffer);
}
