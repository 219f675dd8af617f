#pragma once
// Heap blocks that grow. HeapReAlloc is not among the imports the release
// may use, so a larger block is a new one with the old bytes copied in.
#include <windows.h>

// A block of `bytes` from the process heap holding the first `kept` bytes of
// `block` (nullptr for none), which is then freed. nullptr when memory runs
// out; `block` is then as it was.
void* GrowHeapBlock(void* block, size_t kept, size_t bytes);
