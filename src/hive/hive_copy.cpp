#include "hive/hive_copy.h"

#include "hive/regf_check.h"
#include "shared/platform.h"

namespace {

using regf::ReadDword;

struct Watch {
    HiveMemory* memory;
    bool passing;  // the base block told the bins' size, and the bits were had
    BinsPass pass;
    bool checked;  // the hive, held whole, went through both passes of its check
    HiveCheckResult verdict;
};

// A file that can be a hive held whole is read whole.
BYTE* Room(void* context, unsigned long long total) {
    Watch* watch = static_cast<Watch*>(context);
    if (total > regf::BaseBlockBytes + static_cast<unsigned long long>(Platform.hiveWholeLimit)) {
        return nullptr;
    }
    return watch->memory->Room(HiveArena, static_cast<size_t>(total));
}

// A hive held whole is checked while the copy writes it.
void Whole(void* context, const BYTE* bytes, size_t count) {
    Watch* watch = static_cast<Watch*>(context);
    watch->checked = CheckHeldHive(bytes, count, watch->memory, &watch->verdict);
}

// The bins pass can go along when the base block is sound; whether the file
// gives all of the bins data it names shows at the end.
void StartPass(Watch* watch, const BYTE* base) {
    const DWORD size = ReadDword(base + regf::BinsDataSizeOffset);
    if (!regf::BaseBlockChecksumRight(base) || size == 0 || size % regf::BinAlignment != 0 ||
        size >= regf::MaxBinsDataSize) {
        return;
    }
    BYTE* allocated = watch->memory->Zeroed(HiveCellBits, (size / 256 + 1) * sizeof(DWORD));
    BYTE* binStarts =
        watch->memory->Zeroed(HiveBinBits, (size / regf::BinAlignment / 32 + 1) * sizeof(DWORD));
    if (!allocated || !binStarts) return;
    StartBinsPass(&watch->pass, size, reinterpret_cast<DWORD*>(allocated),
                  reinterpret_cast<DWORD*>(binStarts));
    watch->passing = true;
}

// Each chunk of a larger hive goes through the bins pass while it is fresh
// in the cache.
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

// The check of the copy from the file, taking the bins pass of a clean
// hive when it went to the end or to a fault.
DWORD CheckFromFile(Watch* watch, const wchar_t* target, HiveCheckResult* verdict) {
    HiveHandle opened;
    const DWORD error = HiveOpenWith(target, watch->memory, opened.put());
    if (error != ERROR_SUCCESS) return error;
    Hive* hive = opened.get();
    const BinsPass& pass = watch->pass;
    if (watch->passing && !pass.lost && (pass.problem || pass.at >= pass.size) &&
        hive->kind == HiveKind::Regf && !hive->dirty && hive->binsSize == pass.size) {
        hive->passed = &pass;
    }
    return CheckHive(hive, verdict);
}

}  // namespace

DWORD CopyAndCheckHive(HiveCopier* copier, const wchar_t* source, const wchar_t* target,
                       HiveCheckResult* verdict, DWORD* logs) {
    HiveMemory own;
    Watch watch = {};
    watch.memory = copier ? &copier->memory : &own;
    const CopyHold hold = {Room, Chunk, Whole, copier ? &copier->writer : nullptr, &watch};
    DWORD error = CopyFileBytesHolding(source, target, hold);
    if (error != ERROR_SUCCESS) return error;
    // A dirty hive is that hive only with its logs beside it.
    *logs = CopyHiveLogs(source, target);
    if (watch.checked) {
        *verdict = watch.verdict;
        return ERROR_SUCCESS;
    }
    error = CheckFromFile(&watch, target, verdict);
    if (error != ERROR_SUCCESS) DeleteFileW(target);
    return error;
}
