// Opening a hive file: what kind it is, and the base block its check and
// its readers go by.
#include <string.h>

#include <new>

#include "hive/hive_state.h"
#include "shared/platform.h"

namespace {

using namespace regf;

// Wine's registry saves keys in a text form of its own: taken for a hive under
// Wine, where the platform's own save wrote it, and no hive on Windows.
constexpr char WineSaveHeader[] = "WINE REGISTRY Version 2";

bool IsWineSave(const BYTE* bytes, DWORD count) {
    const DWORD length = sizeof(WineSaveHeader) - 1;
    if (count <= length || memcmp(bytes, WineSaveHeader, length) != 0) return false;
    return bytes[length] == '\n' ||
           (count > length + 1 && bytes[length] == '\r' && bytes[length + 1] == '\n');
}

void Fault(Hive* hive, const wchar_t* what, DWORD at) {
    hive->fault = what;
    hive->faultAt = at;
}

bool ReadAt(HANDLE file, LONGLONG offset, BYTE* into, DWORD count, DWORD* got) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    *got = 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    while (*got < count) {
        DWORD read = 0;
        if (!ReadFile(file, into + *got, count - *got, &read, nullptr)) return false;
        if (read == 0) break;
        *got += read;
    }
    return true;
}

// The fields of the base block in use that every reader relies on.
void CheckFields(Hive* hive) {
    const BYTE* base = hive->base;
    const DWORD size = ReadDword(base + BinsDataSizeOffset);
    if (ReadDword(base + MajorVersionOffset) != 1) {
        Fault(hive, L"hive format major version is not 1", MajorVersionOffset);
    } else if (ReadDword(base + FileTypeOffset) != FileTypePrimary) {
        Fault(hive, L"file type is not that of a primary hive file", FileTypeOffset);
    } else if (ReadDword(base + FileFormatOffset) != 1) {
        Fault(hive, L"file format is not the one Windows loads", FileFormatOffset);
    } else if (size == 0 || size % BinAlignment != 0) {
        Fault(hive, L"hive bins data size is zero or not a multiple of 4096", BinsDataSizeOffset);
    } else if (size >= MaxBinsDataSize) {
        Fault(hive, L"hive bins data size is 2 GiB or more", BinsDataSizeOffset);
    }
    hive->binsSize = hive->fault ? 0 : size;
    hive->root = ReadDword(base + RootCellOffset);
    hive->minor = ReadDword(base + MinorVersionOffset);
}

void ReadBase(Hive* hive, DWORD got) {
    if (IsWineSave(hive->base, got)) {
        hive->kind = Platform.runsUnderWine() ? HiveKind::WineText : HiveKind::Other;
        if (hive->kind == HiveKind::Other) {
            Fault(hive, L"file holds Wine's text form of the registry, which Windows cannot load",
                  0);
        }
        return;
    }
    hive->kind = HiveKind::Other;
    if (got == 0) return Fault(hive, L"file is empty", 0);
    if (got < 4 || memcmp(hive->base, "regf", 4) != 0) {
        return Fault(hive, L"file is not a registry hive", 0);
    }
    if (got < BaseBlockBytes) return Fault(hive, L"file ends inside the base block", got);
    hive->kind = HiveKind::Regf;
    hive->dirty = !BaseBlockChecksumRight(hive->base) || SequencesDiffer(hive->base);
}

// A dirty hive is what Windows loads: the image its logs recover. When they
// cannot be replayed, Windows loads the file as it is; with a wrong
// checksum, it has no base block to go by.
DWORD Recover(Hive* hive, const wchar_t* path) {
    const DWORD error = ReplayHiveLogs(path, &hive->replay);
    if (error != ERROR_SUCCESS) return error;
    if (hive->replay.recovered) {
        memcpy(hive->base, hive->replay.baseBlock, BaseBlockBytes);
    } else if (!BaseBlockChecksumRight(hive->base)) {
        Fault(hive, L"base block checksum is wrong", ChecksumOffset);
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD HiveOpen(const wchar_t* path, Hive** opened) { return HiveOpenWith(path, nullptr, opened); }

DWORD HiveOpenWith(const wchar_t* path, HiveMemory* memory, Hive** opened) {
    *opened = nullptr;
    HiveHandle hive(new (std::nothrow) Hive());
    if (!hive) return ERROR_NOT_ENOUGH_MEMORY;
    Hive* h = hive.get();
    h->file.reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h->file) return GetLastError();
    LARGE_INTEGER size;
    DWORD got = 0;
    if (!GetFileSizeEx(h->file.get(), &size) ||
        !ReadAt(h->file.get(), 0, h->base, BaseBlockBytes, &got)) {
        return GetLastError();
    }
    h->fileSize = static_cast<unsigned long long>(size.QuadPart);
    ReadBase(h, got);
    if (h->kind == HiveKind::Regf && h->dirty) {
        const DWORD error = Recover(h, path);
        if (error != ERROR_SUCCESS) return error;
    }
    if (h->kind == HiveKind::Regf && !h->fault) CheckFields(h);
    const LogReplay* replay = h->replay.recovered ? &h->replay : nullptr;
    if (h->kind == HiveKind::Regf && !h->fault &&
        !HiveBytesBegin(&h->bytes, memory ? memory : &h->own, h->file.get(), h->fileSize,
                        h->binsSize, replay)) {
        return h->bytes.error;
    }
    *opened = hive.release();
    return ERROR_SUCCESS;
}

Hive* HiveOpenHeld(const BYTE* file, size_t length, HiveMemory* memory) {
    Hive* hive = new (std::nothrow) Hive();
    if (!hive) return nullptr;
    const DWORD got = length < BaseBlockBytes ? static_cast<DWORD>(length) : BaseBlockBytes;
    memcpy(hive->base, file, got);
    hive->fileSize = length;
    ReadBase(hive, got);
    if (hive->kind == HiveKind::Regf && !hive->dirty) CheckFields(hive);
    if (hive->kind != HiveKind::Regf || hive->dirty || hive->fault ||
        length - BaseBlockBytes < hive->binsSize) {
        delete hive;
        return nullptr;
    }
    HiveBytesBeginHeld(&hive->bytes, memory ? memory : &hive->own, file + BaseBlockBytes,
                       hive->binsSize);
    return hive;
}

void HiveClose(Hive* hive) { delete hive; }
