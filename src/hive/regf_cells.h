#pragma once
// Single cells of a regf hive, each read with its checks: whatever a cell
// claims, nothing outside it is read. A reader returns nullptr when the cell
// is sound, CellReadFailed when the file could not be read (the hive's
// bytes.error says why), or what is wrong, in words that follow what the
// caller looked for: "subkey" + " points outside the hive bins data".
#include "hive/hive_state.h"

extern const wchar_t CellReadFailed[];

// The allocated cell at `at`, with at least `need` bytes after its size
// field; *size gets its size, that field included.
const wchar_t* ReadCell(Hive* hive, DWORD at, DWORD need, DWORD* size);

// The allocated cell at `at` with the signature `expected` ("nk"), or the
// problem `otherwise`, and at least `header` bytes long, its size field
// included; *view gets those bytes (in place, or in `local`, which holds
// `header`), *size the cell's size.
const wchar_t* ReadSigned(Hive* hive, DWORD at, const char* expected, const wchar_t* otherwise,
                          DWORD header, BYTE* local, const BYTE** view, DWORD* size);

struct KeyCell {
    WORD flags;
    FILETIME lastWritten;
    DWORD subkeyCount;
    DWORD subkeyList;
    DWORD valueCount;
    DWORD valueList;
    DWORD security;
    DWORD classCell;
    WORD nameBytes;
    WORD classBytes;
};
// The fields of the key node `cell` of `size` bytes (signature and minimum
// size already known), or what is wrong with its name.
const wchar_t* DecodeKeyCell(const BYTE* cell, DWORD size, KeyCell* key);
// A key node whose name lies within its cell.
const wchar_t* ReadKeyCell(Hive* hive, DWORD at, KeyCell* key);

struct ListCell {
    bool indexRoot;  // "ri": its entries are lists, not keys
    DWORD count;
    DWORD width;  // bytes an entry takes; the key or list offset comes first
};
// A subkey list ("lf", "lh", "li" or "ri") whose entries lie within its cell.
const wchar_t* ReadListCell(Hive* hive, DWORD at, ListCell* list);

struct ValueCell {
    WORD nameBytes;
    WORD flags;
    DWORD dataSize;  // ValueDataInline included
    DWORD data;
    DWORD type;
};
// A value whose name lies within its cell.
const wchar_t* ReadValueCell(Hive* hive, DWORD at, ValueCell* value);

// A name at `offset` in the cell at `at`, `bytes` long, as UTF-16 with a
// terminator; compressed names are Latin-1. ERROR_MORE_DATA when it does
// not fit `capacity`.
DWORD ReadCellName(Hive* hive, DWORD at, DWORD offset, WORD bytes, bool compressed, wchar_t* name,
                   DWORD capacity);

// Whether the problem lies with the reference (it points nowhere useful)
// rather than with the cell it reaches.
bool IsReferenceProblem(const wchar_t* problem);

// The error a walk call gives for what a reader returned.
DWORD CellError(const Hive* hive, const wchar_t* problem);

inline bool CellAllocated(const DWORD* bits, DWORD at) {
    return (bits[at >> 8] >> ((at >> 3) & 31)) & 1;
}
