#pragma once
// A registry hive file read in place, never loaded and never changed: open
// it, check it (hive/hive_check.h), walk its keys and values. Keys and
// values are handles into the open hive; every call checks the cell it is
// handed and fails with ERROR_BADDB on a damaged one, so no file can make a
// caller read past what it holds. Walk a hive only after it passed its
// check: a failed hive may hold loops.
//
// The walk calls read regf, the format Windows writes. Any other file,
// Wine's text save among them (which passes its check under Wine), they
// refuse with ERROR_BADDB.
#include <windows.h>

#include "shared/owned_handle.h"

struct Hive;
using HiveKey = DWORD;    // 0 is no key
using HiveValue = DWORD;  // 0 is no value

// Opens the file read-only with backup semantics, sharing reads, and reads
// its base block. A dirty hive (hive/hive_check.h) is read as Windows loads
// it: the image its logs beside it recover (hive/log_replay.h), or the file
// as it is when they cannot be replayed. Fails only when the file or a log
// cannot be opened or read, or memory runs out; what they hold is for
// CheckHive to say.
DWORD HiveOpen(const wchar_t* path, Hive** hive);
void HiveClose(Hive* hive);

struct HiveTraits {
    using Type = Hive*;
    static Type invalid() { return nullptr; }
    static void close(Type hive) { HiveClose(hive); }
};
using HiveHandle = Owned<HiveTraits>;

struct HiveKeyInfo {
    DWORD subkeys;
    DWORD values;
    DWORD nameLength;  // in characters
    FILETIME lastWritten;
};

struct HiveValueInfo {
    DWORD type;        // REG_SZ, REG_DWORD, ... or any other number the file holds
    DWORD dataSize;    // in bytes
    DWORD nameLength;  // in characters; 0 for the default value
};

DWORD HiveRoot(Hive* hive, HiveKey* root);
DWORD HiveKeyInfoOf(Hive* hive, HiveKey key, HiveKeyInfo* info);
// The name, terminated; ERROR_MORE_DATA when it needs more than `capacity`
// characters with its terminator. Names may hold any 16-bit units.
DWORD HiveKeyName(Hive* hive, HiveKey key, wchar_t* name, DWORD capacity);

// The subkeys in the order the hive holds them: start with a zeroed cursor;
// ERROR_NO_MORE_ITEMS after the last.
struct HiveSubkeyCursor {
    DWORD leaf;   // which list of an index root
    DWORD entry;  // which entry of that list
};
DWORD HiveNextSubkey(Hive* hive, HiveKey key, HiveSubkeyCursor* cursor, HiveKey* subkey);
// The subkey named `name`, compared without regard to case as Windows does;
// ERROR_FILE_NOT_FOUND when there is none.
DWORD HiveFindSubkey(Hive* hive, HiveKey key, const wchar_t* name, HiveKey* subkey);

// The value at `index` (below HiveKeyInfo's count), in the hive's order.
DWORD HiveValueAt(Hive* hive, HiveKey key, DWORD index, HiveValue* value);
DWORD HiveValueInfoOf(Hive* hive, HiveValue value, HiveValueInfo* info);
DWORD HiveValueName(Hive* hive, HiveValue value, wchar_t* name, DWORD capacity);
// Copies `count` bytes of the value's data from `offset`, wherever the hive
// keeps them (in the value itself, one cell, or big data segments).
DWORD HiveValueData(Hive* hive, HiveValue value, DWORD offset, BYTE* data, DWORD count);
