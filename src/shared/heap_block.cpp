#include "shared/heap_block.h"

#include <string.h>

void* GrowHeapBlock(void* block, size_t kept, size_t bytes) {
    HANDLE heap = GetProcessHeap();
    void* grown = HeapAlloc(heap, 0, bytes);
    if (!grown || !block) return grown;
    memcpy(grown, block, kept < bytes ? kept : bytes);
    HeapFree(heap, 0, block);
    return grown;
}
