#include "hive/regf_cells.h"

#include <string.h>

using regf::ReadDword;
using regf::ReadWord;

const wchar_t CellReadFailed[] = L"could not be read";

namespace {

const wchar_t Outside[] = L"points outside the hive bins data";
const wchar_t NotAllocated[] = L"does not point at an allocated cell";
const wchar_t OddName[] = L"name ends inside a UTF-16 character";
const wchar_t TooSmall[] = L"is too small for what it holds";

bool Signature(const BYTE* at, const char* expected) {
    return at[0] == expected[0] && at[1] == expected[1];
}

const wchar_t* ReadFailure(const Hive* hive) {
    return hive->bytes.error ? CellReadFailed : Outside;
}

// The first `count` bytes of the allocated cell at `at`, and its size.
const wchar_t* ViewCell(Hive* hive, DWORD at, DWORD count, BYTE* local, const BYTE** view,
                        DWORD* size) {
    if (at >= hive->binsSize || hive->binsSize - at < regf::CellSizeBytes) return Outside;
    if (at % regf::CellAlignment != 0) return NotAllocated;
    const BYTE* bytes = HiveBytesView(&hive->bytes, at, count, local);
    if (!bytes) return ReadFailure(hive);
    const DWORD stored = ReadDword(bytes);
    const DWORD cellSize = 0 - stored;
    if (hive->allocated) {
        // The pass over the bins proved each marked cell whole within its bin.
        if (!CellAllocated(hive->allocated, at)) return NotAllocated;
    } else if ((stored & 0x80000000) == 0 || cellSize % regf::CellAlignment != 0 ||
               cellSize > hive->binsSize - at) {
        return NotAllocated;
    }
    *view = bytes;
    *size = cellSize;
    return nullptr;
}

}  // namespace

const wchar_t* ReadCell(Hive* hive, DWORD at, DWORD need, DWORD* size) {
    BYTE local[regf::CellSizeBytes];
    const BYTE* view = nullptr;
    if (const wchar_t* problem = ViewCell(hive, at, sizeof(local), local, &view, size)) {
        return problem;
    }
    return *size - regf::CellSizeBytes < need ? TooSmall : nullptr;
}

const wchar_t* ReadSigned(Hive* hive, DWORD at, const char* expected, const wchar_t* otherwise,
                          DWORD header, BYTE* local, const BYTE** view, DWORD* size) {
    if (const wchar_t* problem = ViewCell(hive, at, header, local, view, size)) return problem;
    if (*size < regf::CellSizeBytes + 2 || !Signature(*view + regf::CellSizeBytes, expected)) {
        return otherwise;
    }
    return *size < header ? TooSmall : nullptr;
}

const wchar_t* DecodeKeyCell(const BYTE* cell, DWORD size, KeyCell* key) {
    key->flags = ReadWord(cell + regf::KeyFlags);
    key->lastWritten.dwLowDateTime = ReadDword(cell + regf::KeyLastWritten);
    key->lastWritten.dwHighDateTime = ReadDword(cell + regf::KeyLastWritten + 4);
    key->subkeyCount = ReadDword(cell + regf::KeySubkeyCount);
    key->subkeyList = ReadDword(cell + regf::KeySubkeyList);
    key->valueCount = ReadDword(cell + regf::KeyValueCount);
    key->valueList = ReadDword(cell + regf::KeyValueList);
    key->security = ReadDword(cell + regf::KeySecurity);
    key->classCell = ReadDword(cell + regf::KeyClass);
    key->nameBytes = ReadWord(cell + regf::KeyNameLength);
    key->classBytes = ReadWord(cell + regf::KeyClassLength);
    if (key->nameBytes > size - regf::KeyName) return L"name runs past its cell";
    if (!(key->flags & regf::KeyCompressedName) && key->nameBytes % 2 != 0) return OddName;
    return nullptr;
}

const wchar_t* ReadKeyCell(Hive* hive, DWORD at, KeyCell* key) {
    DWORD size = 0;
    BYTE local[regf::KeyName];
    const BYTE* cell = nullptr;
    if (const wchar_t* problem =
            ReadSigned(hive, at, "nk", L"is not a key node", sizeof(local), local, &cell, &size)) {
        return problem;
    }
    return DecodeKeyCell(cell, size, key);
}

const wchar_t* ReadListCell(Hive* hive, DWORD at, ListCell* list) {
    DWORD size = 0;
    BYTE local[regf::ListEntries];
    const BYTE* cell = nullptr;
    if (const wchar_t* problem = ViewCell(hive, at, sizeof(local), local, &cell, &size)) {
        return problem;
    }
    if (size < regf::ListEntries) return TooSmall;
    const BYTE* signature = cell + regf::CellSizeBytes;
    if (Signature(signature, "lf") || Signature(signature, "lh")) {
        list->width = 8;
    } else if (Signature(signature, "li") || Signature(signature, "ri")) {
        list->width = 4;
    } else {
        return L"is not a subkey list";
    }
    list->indexRoot = Signature(signature, "ri");
    list->count = ReadWord(cell + regf::ListCount);
    if (list->count > (size - regf::ListEntries) / list->width) {
        return L"has more entries than its cell holds";
    }
    return nullptr;
}

const wchar_t* ReadValueCell(Hive* hive, DWORD at, ValueCell* value) {
    DWORD size = 0;
    BYTE local[regf::ValueName];
    const BYTE* cell = nullptr;
    if (const wchar_t* problem =
            ReadSigned(hive, at, "vk", L"is not a value", sizeof(local), local, &cell, &size)) {
        return problem;
    }
    value->nameBytes = ReadWord(cell + regf::ValueNameLength);
    value->dataSize = ReadDword(cell + regf::ValueDataSize);
    value->data = ReadDword(cell + regf::ValueData);
    value->type = ReadDword(cell + regf::ValueType);
    value->flags = ReadWord(cell + regf::ValueFlags);
    if (value->nameBytes > size - regf::ValueName) return L"name runs past its cell";
    if (!(value->flags & regf::ValueCompressedName) && value->nameBytes % 2 != 0) return OddName;
    return nullptr;
}

DWORD ReadCellName(Hive* hive, DWORD at, DWORD offset, WORD bytes, bool compressed, wchar_t* name,
                   DWORD capacity) {
    const DWORD length = compressed ? bytes : bytes / 2u;
    if (length >= capacity) return ERROR_MORE_DATA;
    if (compressed) {
        BYTE chunk[256];
        for (DWORD done = 0; done < length;) {
            const DWORD take = length - done < sizeof(chunk) ? length - done : sizeof(chunk);
            if (!HiveBytesRead(&hive->bytes, at + offset + done, chunk, take)) {
                return CellError(hive, ReadFailure(hive));
            }
            for (DWORD i = 0; i < take; ++i) name[done + i] = chunk[i];
            done += take;
        }
    } else if (!HiveBytesRead(&hive->bytes, at + offset, name, length * sizeof(wchar_t))) {
        return CellError(hive, ReadFailure(hive));
    }
    name[length] = L'\0';
    return ERROR_SUCCESS;
}

bool IsReferenceProblem(const wchar_t* problem) {
    return problem == Outside || problem == NotAllocated;
}

DWORD CellError(const Hive* hive, const wchar_t* problem) {
    if (!problem) return ERROR_SUCCESS;
    if (problem != CellReadFailed) return ERROR_BADDB;
    return hive->bytes.error ? hive->bytes.error : ERROR_READ_FAULT;
}
