#pragma once
// Checks that a file is a whole registry hive by reading it once, in order:
// either a regf file whose base block, bins and cells hold together, or the
// text hive Wine's RegSaveKeyW writes. Only ever reads. The same check runs
// over a copy's bytes while they pass (Begin, Feed per chunk, End) or over a
// file on its own (CheckHiveFile).
#include <windows.h>

struct HiveCheckResult {
    bool passed;             // the file is a whole hive
    bool needsLogs;          // a regf whose sequence numbers differ: it is current only with
                             // its .LOG1/.LOG2 transaction logs; not a failure
    bool textFormat;         // Wine's text hive ("WINE REGISTRY Version 2")
    const wchar_t* problem;  // short English reason when !passed; nullptr when passed
};
// needsLogs and textFormat are false whenever passed is false.

constexpr size_t HiveBaseBlockBytes = 4096;

enum class HiveCheckStage { BaseBlock, BinHeader, Cell, AfterData, Text, Failed };

// The whole state of one check; fixed size, no heap. Fill it with
// HiveCheckBegin; the fields are HiveCheckFeed's own.
struct HiveCheck {
    HiveCheckStage stage;
    unsigned long long position;  // bytes fed so far
    unsigned long long next;      // file offset of the next bin or cell header
    unsigned long long binEnd;    // file offset where the current bin ends
    unsigned long long dataEnd;   // file offset where the hive bins data ends
    unsigned long long rootAt;    // file offset of the root cell
    bool rootFound;
    const wchar_t* problem;
    size_t partialCount;  // header bytes gathered so far when a header straddles two feeds
    BYTE partial[16];
    BYTE baseBlock[HiveBaseBlockBytes];
};

void HiveCheckBegin(HiveCheck* check);
// The file's bytes in order, in chunks of any size (zero included). After the
// first problem the rest is skipped.
void HiveCheckFeed(HiveCheck* check, const BYTE* bytes, size_t count);
// After the last byte.
HiveCheckResult HiveCheckEnd(HiveCheck* check);

// Reads the file (backup semantics, sharing reads only) in 128 KiB chunks and
// checks it, stopping early once the verdict is known. True with *error set
// to ERROR_SUCCESS when the file was checked, whatever the verdict; false
// with the Win32 error in *error when it cannot be opened or read, and
// *result left as it was.
bool CheckHiveFile(const wchar_t* path, HiveCheckResult* result, DWORD* error);
