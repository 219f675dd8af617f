#include "hive/own_log.h"

#include <string.h>

#include "hive/regf_layout.h"
#include "shared/hive_logs.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"

namespace {

// A log holds the first sector of the base block, which the checksum covers.
constexpr DWORD LogBaseBytes = 512;

bool ReadLogBase(const wchar_t* path, BYTE* base) {
    FileHandle log(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD got = 0;
    return log && ReadFile(log.get(), base, LogBaseBytes, &got, nullptr) && got == LogBaseBytes;
}

bool Belongs(const BYTE* base, const BYTE* written, const BYTE* binWritten) {
    using namespace regf;
    const DWORD type = ReadDword(base + FileTypeOffset);
    if (memcmp(base, "regf", 4) != 0 || !BaseBlockChecksumRight(base) || SequencesDiffer(base) ||
        (type != FileTypeLog && type != FileTypeLogNew && type != FileTypeLogWindows2000)) {
        return false;
    }
    const BYTE* logWritten = base + LastWrittenOffset;
    return memcmp(logWritten, written, sizeof(FILETIME)) == 0 ||
           (binWritten && memcmp(logWritten, binWritten, sizeof(FILETIME)) == 0);
}

}  // namespace

bool FindOwnLog(const wchar_t* path, const BYTE* written, const BYTE* binWritten, BYTE* base) {
    for (const wchar_t* suffix : HiveLogSuffixes) {
        wchar_t logPath[JoinedPathCapacity];
        BYTE logBase[regf::BaseBlockBytes] = {};
        if (!AddSuffix(logPath, path, suffix) || !ReadLogBase(logPath, logBase) ||
            !Belongs(logBase, written, binWritten)) {
            continue;
        }
        if (base) {
            memcpy(base, logBase, sizeof(logBase));
            regf::WriteDword(base + regf::FileTypeOffset, regf::FileTypePrimary);
            regf::WriteDword(base + regf::ChecksumOffset, regf::BaseBlockChecksum(base));
        }
        return true;
    }
    return false;
}
