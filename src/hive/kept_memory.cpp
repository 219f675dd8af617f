#include "hive/kept_memory.h"

namespace {

LONG Taken = 0;
BYTE* Buffers[KeptUses];
size_t Sizes[KeptUses];
HeldCopy Held;

bool SameFile(const HeldFile& a, const HeldFile& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow &&
           a.sizeHigh == b.sizeHigh && a.sizeLow == b.sizeLow &&
           a.lastWritten.dwLowDateTime == b.lastWritten.dwLowDateTime &&
           a.lastWritten.dwHighDateTime == b.lastWritten.dwHighDateTime;
}

}  // namespace

bool TakeKeptMemory() { return InterlockedExchange(&Taken, 1) == 0; }

void ReturnKeptMemory() { InterlockedExchange(&Taken, 0); }

BYTE* KeptBuffer(bool held, size_t use, size_t size) {
    if (held && use == KeptArena) Held.length = 0;
    if (held && (use == KeptCellBits || use == KeptBinBits)) Held.passedSize = 0;
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

void HoldCopy(const HeldCopy& copy) {
    Held = copy;
    if (!Buffers[KeptArena] || Held.length > Sizes[KeptArena]) Held.length = 0;
}

const HeldCopy* HeldCopyOf(const HeldFile& file) {
    const bool holds = Held.length > 0 || Held.passedSize > 0 || Held.judgedSize > 0;
    return holds && SameFile(file, Held.file) ? &Held : nullptr;
}

void ForgetHeldCopy() { Held = HeldCopy(); }

BYTE* KeptAsItIs(size_t use) { return Buffers[use]; }

bool IdentifyFile(HANDLE file, HeldFile* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return false;
    identity->volume = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    identity->sizeHigh = information.nFileSizeHigh;
    identity->sizeLow = information.nFileSizeLow;
    identity->lastWritten = information.ftLastWriteTime;
    return true;
}
