// The walk calls of hive/hive.h over a regf file. Each reads only the cells
// it is handed and those they name, through the same checked readers as the
// check, so a damaged file gives ERROR_BADDB rather than a read astray.
#include <string.h>

#include "hive/regf_cells.h"
#include "shared/name_case.h"

namespace {

using regf::ReadDword;

// Whether the walk calls can answer for this hive: only a regf file, which
// Wine's text save is not.
DWORD Readable(const Hive* hive) {
    if (hive->kind != HiveKind::Regf || hive->fault) return ERROR_BADDB;
    return ERROR_SUCCESS;
}

DWORD ReadKey(Hive* hive, HiveKey key, KeyCell* cell) {
    const DWORD error = Readable(hive);
    return error != ERROR_SUCCESS ? error : CellError(hive, ReadKeyCell(hive, key, cell));
}

DWORD ReadValue(Hive* hive, HiveValue value, ValueCell* cell) {
    const DWORD error = Readable(hive);
    return error != ERROR_SUCCESS ? error : CellError(hive, ReadValueCell(hive, value, cell));
}

DWORD ReadEntry(Hive* hive, DWORD at, DWORD* entry) {
    BYTE bytes[4];
    if (!HiveBytesRead(&hive->bytes, at, bytes, sizeof(bytes))) {
        return hive->bytes.error ? CellError(hive, CellReadFailed) : ERROR_BADDB;
    }
    *entry = ReadDword(bytes);
    return ERROR_SUCCESS;
}

DWORD NameLength(const KeyCell& key) {
    return key.flags & regf::KeyCompressedName ? key.nameBytes : key.nameBytes / 2u;
}

}  // namespace

DWORD HiveRoot(Hive* hive, HiveKey* root) {
    KeyCell key;
    const DWORD error = ReadKey(hive, hive->root, &key);
    if (error == ERROR_SUCCESS) *root = hive->root;
    return error;
}

DWORD HiveKeyInfoOf(Hive* hive, HiveKey key, HiveKeyInfo* info) {
    KeyCell cell;
    const DWORD error = ReadKey(hive, key, &cell);
    if (error != ERROR_SUCCESS) return error;
    info->subkeys = cell.subkeyCount;
    info->values = cell.valueCount;
    info->nameLength = NameLength(cell);
    info->lastWritten = cell.lastWritten;
    return ERROR_SUCCESS;
}

DWORD HiveKeyName(Hive* hive, HiveKey key, wchar_t* name, DWORD capacity) {
    KeyCell cell;
    const DWORD error = ReadKey(hive, key, &cell);
    if (error != ERROR_SUCCESS) return error;
    return ReadCellName(hive, key, regf::KeyName, cell.nameBytes,
                        (cell.flags & regf::KeyCompressedName) != 0, name, capacity);
}

DWORD HiveNextSubkey(Hive* hive, HiveKey key, HiveSubkeyCursor* cursor, HiveKey* subkey) {
    KeyCell cell;
    DWORD error = ReadKey(hive, key, &cell);
    if (error != ERROR_SUCCESS) return error;
    if (cell.subkeyCount == 0) return ERROR_NO_MORE_ITEMS;
    ListCell list;
    if ((error = CellError(hive, ReadListCell(hive, cell.subkeyList, &list))) != ERROR_SUCCESS) {
        return error;
    }
    for (;;) {
        DWORD leafAt = cell.subkeyList;
        ListCell leaf = list;
        if (list.indexRoot) {
            if (cursor->leaf >= list.count) return ERROR_NO_MORE_ITEMS;
            error =
                ReadEntry(hive, cell.subkeyList + regf::ListEntries + 4 * cursor->leaf, &leafAt);
            if (error == ERROR_SUCCESS) error = CellError(hive, ReadListCell(hive, leafAt, &leaf));
            if (error == ERROR_SUCCESS && leaf.indexRoot) error = ERROR_BADDB;
            if (error != ERROR_SUCCESS) return error;
        } else if (cursor->leaf > 0) {
            return ERROR_NO_MORE_ITEMS;
        }
        if (cursor->entry < leaf.count) {
            DWORD child = 0;
            error =
                ReadEntry(hive, leafAt + regf::ListEntries + leaf.width * cursor->entry, &child);
            KeyCell childCell;
            if (error == ERROR_SUCCESS) error = ReadKey(hive, child, &childCell);
            if (error != ERROR_SUCCESS) return error;
            ++cursor->entry;
            *subkey = child;
            return ERROR_SUCCESS;
        }
        ++cursor->leaf;
        cursor->entry = 0;
    }
}

DWORD HiveFindSubkey(Hive* hive, HiveKey key, const wchar_t* name, HiveKey* subkey) {
    const size_t length = wcslen(name);
    wchar_t onStack[256];
    wchar_t* found = onStack;
    if (length >= ARRAYSIZE(onStack)) {
        found =
            static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
        if (!found) return ERROR_NOT_ENOUGH_MEMORY;
    }
    HiveSubkeyCursor cursor = {};
    HiveKey child = 0;
    DWORD error = ERROR_SUCCESS;
    while ((error = HiveNextSubkey(hive, key, &cursor, &child)) == ERROR_SUCCESS) {
        KeyCell cell;
        if ((error = ReadKey(hive, child, &cell)) != ERROR_SUCCESS) break;
        if (NameLength(cell) != length) continue;
        if ((error = HiveKeyName(hive, child, found, static_cast<DWORD>(length + 1))) !=
            ERROR_SUCCESS) {
            break;
        }
        if (SameName(found, name, length)) {
            *subkey = child;
            break;
        }
    }
    if (found != onStack) HeapFree(GetProcessHeap(), 0, found);
    return error == ERROR_NO_MORE_ITEMS ? ERROR_FILE_NOT_FOUND : error;
}

DWORD HiveValueAt(Hive* hive, HiveKey key, DWORD index, HiveValue* value) {
    KeyCell cell;
    DWORD error = ReadKey(hive, key, &cell);
    if (error != ERROR_SUCCESS) return error;
    if (index >= cell.valueCount) return ERROR_NO_MORE_ITEMS;
    DWORD size = 0;
    const DWORD need = cell.valueCount > 0x3FFFFFFF ? 0xFFFFFFFF : cell.valueCount * 4;
    error = CellError(hive, ReadCell(hive, cell.valueList, need, &size));
    DWORD at = 0;
    if (error == ERROR_SUCCESS) {
        error = ReadEntry(hive, cell.valueList + regf::CellSizeBytes + 4 * index, &at);
    }
    ValueCell valueCell;
    if (error == ERROR_SUCCESS) error = ReadValue(hive, at, &valueCell);
    if (error == ERROR_SUCCESS) *value = at;
    return error;
}

DWORD HiveValueInfoOf(Hive* hive, HiveValue value, HiveValueInfo* info) {
    ValueCell cell;
    const DWORD error = ReadValue(hive, value, &cell);
    if (error != ERROR_SUCCESS) return error;
    info->type = cell.type;
    info->dataSize = cell.dataSize & ~regf::ValueDataInline;
    info->nameLength =
        cell.flags & regf::ValueCompressedName ? cell.nameBytes : cell.nameBytes / 2u;
    return ERROR_SUCCESS;
}

DWORD HiveValueName(Hive* hive, HiveValue value, wchar_t* name, DWORD capacity) {
    ValueCell cell;
    const DWORD error = ReadValue(hive, value, &cell);
    if (error != ERROR_SUCCESS) return error;
    return ReadCellName(hive, value, regf::ValueName, cell.nameBytes,
                        (cell.flags & regf::ValueCompressedName) != 0, name, capacity);
}

namespace {

// Copies from a value's big data: whole segments but the last.
DWORD ReadBigData(Hive* hive, DWORD at, DWORD dataSize, DWORD offset, BYTE* data, DWORD count) {
    const DWORD full = regf::BigDataSegmentBytes;
    DWORD size = 0;
    BYTE local[regf::BigDataHeaderBytes];
    const BYTE* cell = nullptr;
    DWORD error = CellError(
        hive, ReadSigned(hive, at, "db", L"is not big data", sizeof(local), local, &cell, &size));
    if (error != ERROR_SUCCESS) return error;
    const DWORD segments = regf::ReadWord(cell + regf::BigDataSegmentCount);
    if (segments != dataSize / full + (dataSize % full != 0)) return ERROR_BADDB;
    const DWORD list = ReadDword(cell + regf::BigDataSegmentList);
    if ((error = CellError(hive, ReadCell(hive, list, 4 * segments, &size))) != ERROR_SUCCESS) {
        return error;
    }
    while (count > 0) {
        const DWORD index = offset / full;
        const DWORD within = offset % full;
        const DWORD inSegment = (index + 1 < segments ? full : dataSize - full * index) - within;
        const DWORD take = inSegment < count ? inSegment : count;
        DWORD segment = 0;
        error = ReadEntry(hive, list + regf::CellSizeBytes + 4 * index, &segment);
        if (error == ERROR_SUCCESS)
            error = CellError(hive, ReadCell(hive, segment, within + take, &size));
        if (error != ERROR_SUCCESS) return error;
        if (!HiveBytesRead(&hive->bytes, segment + regf::CellSizeBytes + within, data, take)) {
            return CellError(hive, CellReadFailed);
        }
        data += take;
        offset += take;
        count -= take;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD HiveValueData(Hive* hive, HiveValue value, DWORD offset, BYTE* data, DWORD count) {
    ValueCell cell;
    DWORD error = ReadValue(hive, value, &cell);
    if (error != ERROR_SUCCESS) return error;
    const DWORD size = cell.dataSize & ~regf::ValueDataInline;
    if (offset > size || count > size - offset) return ERROR_INVALID_PARAMETER;
    if (count == 0) return ERROR_SUCCESS;
    if (cell.dataSize & regf::ValueDataInline) {
        if (size > 4) return ERROR_BADDB;
        BYTE inline_[4];
        regf::WriteDword(inline_, cell.data);
        memcpy(data, inline_ + offset, count);
        return ERROR_SUCCESS;
    }
    if (hive->minor >= regf::BigDataMinorVersion && size > regf::BigDataSegmentBytes) {
        return ReadBigData(hive, cell.data, size, offset, data, count);
    }
    DWORD cellSize = 0;
    if ((error = CellError(hive, ReadCell(hive, cell.data, size, &cellSize))) != ERROR_SUCCESS) {
        return error;
    }
    if (!HiveBytesRead(&hive->bytes, cell.data + regf::CellSizeBytes + offset, data, count)) {
        return CellError(hive, CellReadFailed);
    }
    return ERROR_SUCCESS;
}
