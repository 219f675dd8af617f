#include "hive/hive_copy.h"

#include <string.h>

#include "hive/hive_bytes.h"
#include "hive/kept_memory.h"
#include "hive/regf_check.h"
#include "shared/file_copy.h"
#include "shared/owned_handle.h"

namespace {

using regf::ReadDword;

struct Watch {
    bool passing;  // the base block told the bins' size, and the bits were had
    BinsPass pass;
    bool judged;  // the hive, held whole, went through both passes of its check
    CheckFault fault;
    DWORD judgedSize;
};

// The bins pass can go along when the base block is sound; whether the file
// gives all of the bins data it names shows at the end.
void StartPass(Watch* watch, const BYTE* base) {
    const DWORD size = ReadDword(base + regf::BinsDataSizeOffset);
    if (!regf::BaseBlockChecksumRight(base) || size == 0 || size % regf::BinAlignment != 0 ||
        size >= regf::MaxBinsDataSize) {
        return;
    }
    const size_t cells = (size / 256 + 1) * sizeof(DWORD);
    const size_t bins = (size / regf::BinAlignment / 32 + 1) * sizeof(DWORD);
    BYTE* allocated = KeptBuffer(true, KeptCellBits, cells);
    BYTE* binStarts = KeptBuffer(true, KeptBinBits, bins);
    if (!allocated || !binStarts) return;
    memset(allocated, 0, cells);
    memset(binStarts, 0, bins);
    StartBinsPass(&watch->pass, size, reinterpret_cast<DWORD*>(allocated),
                  reinterpret_cast<DWORD*>(binStarts));
    watch->passing = true;
}

// Each chunk goes through the bins pass while it is fresh in the cache.
void Chunk(void* context, unsigned long long offset, const BYTE* bytes, DWORD count) {
    Watch* watch = static_cast<Watch*>(context);
    if (offset == 0) {
        if (count < regf::BaseBlockBytes) return;
        StartPass(watch, bytes);
        bytes += regf::BaseBlockBytes;
        count -= regf::BaseBlockBytes;
        offset = regf::BaseBlockBytes;
    }
    if (!watch->passing || offset - regf::BaseBlockBytes >= watch->pass.size) return;
    FeedBinsPass(&watch->pass, bytes, static_cast<DWORD>(offset - regf::BaseBlockBytes), count);
}

// A hive that fits the arena is checked whole while the copy writes it.
void Whole(void* context, const BYTE* bytes, size_t count) {
    Watch* watch = static_cast<Watch*>(context);
    watch->judged = CheckHeldHive(bytes, count, &watch->fault);
    if (watch->judged) watch->judgedSize = ReadDword(bytes + regf::BinsDataSizeOffset);
}

}  // namespace

DWORD CopyHiveFile(const wchar_t* source, const wchar_t* destination) {
    if (!TakeKeptMemory()) return CopyFileBytes(source, destination);
    ForgetHeldCopy();
    Watch watch = {};
    CopyHold hold = {};
    hold.bytes = KeptBuffer(true, KeptArena, HiveArenaBytes);
    hold.capacity = hold.bytes ? regf::BaseBlockBytes + HiveWholeLimit : 0;
    hold.chunk = Chunk;
    hold.whole = Whole;
    hold.context = &watch;
    const DWORD error = CopyFileBytesHolding(source, destination, &hold);
    if (error == ERROR_SUCCESS) {
        // The file as it stands once closed: a file system may set its last
        // written time only then.
        FileHandle copy(CreateFileW(destination, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        HeldCopy held = {};
        held.length = hold.held;
        const BinsPass& pass = watch.pass;
        if (watch.passing && !pass.lost && (pass.problem || pass.at >= pass.size)) {
            held.passedSize = pass.size;
            held.problem = pass.problem;
            held.problemAt = pass.problemAt;
        }
        if (watch.judged) {
            held.judgedSize = watch.judgedSize;
            held.judgedSubject = watch.fault.subject;
            held.judgedProblem = watch.fault.problem;
            held.judgedAt = watch.fault.at;
        }
        if (copy && IdentifyFile(copy.get(), &held.file)) HoldCopy(held);
    }
    ReturnKeptMemory();
    return error;
}
