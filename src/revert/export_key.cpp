#include "revert/export_key.h"

#include "revert/reg_file_writer.h"
#include "shared/console.h"
#include "shared/exit_status.h"

namespace {

// As deep as the check lets a hive go, and the key itself.
constexpr DWORD MaxDepth = 513;
constexpr DWORD ChunkBytes = 65536;

struct Export {
    Hive* hive;
    RegFile reg;
    TextBuffer name;  // the current key's full name
    TextBuffer valueName;
    BYTE chunk[ChunkBytes];
    DWORD keys;
    DWORD values;
};

struct Frame {
    HiveKey key;
    HiveSubkeyCursor cursor;
    size_t nameLength;
};

// Whether a REG_SZ's data is exactly what a quoted string gives back: whole
// units, the last of them the only NUL, and no line break.
DWORD QuotedStringCarries(Export* e, HiveValue value, DWORD size, bool* carries) {
    *carries = size >= 2 && size % 2 == 0;
    for (DWORD offset = 0; *carries && offset < size; offset += ChunkBytes) {
        const DWORD count = size - offset < ChunkBytes ? size - offset : ChunkBytes;
        const DWORD error = HiveValueData(e->hive, value, offset, e->chunk, count);
        if (error != ERROR_SUCCESS) return error;
        const wchar_t* units = reinterpret_cast<const wchar_t*>(e->chunk);
        for (DWORD i = 0; *carries && i < count / 2; ++i) {
            const bool final = offset + 2 * i + 2 == size;
            *carries = final ? units[i] == L'\0'
                             : units[i] != L'\0' && units[i] != L'\r' && units[i] != L'\n';
        }
    }
    return ERROR_SUCCESS;
}

DWORD PutString(Export* e, HiveValue value, DWORD size) {
    PutUnits(&e->reg, L"\"", 1);
    for (DWORD offset = 0; offset < size - 2; offset += ChunkBytes) {
        const DWORD count = size - 2 - offset < ChunkBytes ? size - 2 - offset : ChunkBytes;
        const DWORD error = HiveValueData(e->hive, value, offset, e->chunk, count);
        if (error != ERROR_SUCCESS) return error;
        PutEscaped(&e->reg, reinterpret_cast<const wchar_t*>(e->chunk), count / 2);
    }
    PutUnits(&e->reg, L"\"", 1);
    return ERROR_SUCCESS;
}

DWORD PutHex(Export* e, HiveValue value, DWORD type, DWORD size) {
    PutHexType(&e->reg, type);
    for (DWORD offset = 0; offset < size; offset += ChunkBytes) {
        const DWORD count = size - offset < ChunkBytes ? size - offset : ChunkBytes;
        const DWORD error = HiveValueData(e->hive, value, offset, e->chunk, count);
        if (error != ERROR_SUCCESS) return error;
        PutHexBytes(&e->reg, e->chunk, count, offset + count == size);
    }
    return ERROR_SUCCESS;
}

// One value line: a string, a dword, or hex for everything else (REG_SZ
// included when a quoted string would not give back its bytes).
DWORD PutValue(Export* e, HiveKey key, DWORD index) {
    HiveValue value = 0;
    HiveValueInfo info{};
    DWORD error = HiveValueAt(e->hive, key, index, &value);
    if (error == ERROR_SUCCESS) error = HiveValueInfoOf(e->hive, value, &info);
    if (error == ERROR_SUCCESS)
        error = ReadValueName(e->hive, value, info.nameLength, &e->valueName);
    bool carries = false;
    if (error == ERROR_SUCCESS && info.type == REG_SZ) {
        error = QuotedStringCarries(e, value, info.dataSize, &carries);
    }
    if (error != ERROR_SUCCESS) return error;
    PutValueName(&e->reg, e->valueName.Text(), e->valueName.Length());
    if (carries) {
        error = PutString(e, value, info.dataSize);
    } else if (info.type == REG_DWORD && info.dataSize == 4) {
        DWORD number = 0;
        error = HiveValueData(e->hive, value, 0, reinterpret_cast<BYTE*>(&number), 4);
        wchar_t text[16];
        FormatText(text, ARRAYSIZE(text), L"dword:%08lx", number);
        PutText(&e->reg, text);
    } else {
        error = PutHex(e, value, info.type, info.dataSize);
    }
    EndLine(&e->reg);
    ++e->values;
    return error;
}

DWORD PutKey(Export* e, HiveKey key) {
    HiveKeyInfo info{};
    DWORD error = HiveKeyInfoOf(e->hive, key, &info);
    if (error != ERROR_SUCCESS) return error;
    PutUnits(&e->reg, L"[", 1);
    PutUnits(&e->reg, e->name.Text(), e->name.Length());
    PutUnits(&e->reg, L"]", 1);
    EndLine(&e->reg);
    for (DWORD i = 0; error == ERROR_SUCCESS && i < info.values; ++i) error = PutValue(e, key, i);
    EndLine(&e->reg);
    ++e->keys;
    return error != ERROR_SUCCESS ? error : e->reg.error;
}

// The key, then each subkey with its own in the hive's order.
DWORD PutTree(Export* e, HiveKey top) {
    Frame frames[MaxDepth];
    DWORD depth = 1;
    frames[0] = Frame{top, {}, e->name.Length()};
    DWORD error = PutKey(e, top);
    while (error == ERROR_SUCCESS && depth > 0) {
        Frame& frame = frames[depth - 1];
        HiveKey child = 0;
        error = HiveNextSubkey(e->hive, frame.key, &frame.cursor, &child);
        if (error == ERROR_NO_MORE_ITEMS) {
            --depth;
            error = ERROR_SUCCESS;
            continue;
        }
        if (error == ERROR_SUCCESS && depth == MaxDepth) error = ERROR_BADDB;
        if (error != ERROR_SUCCESS) break;
        e->name.Cut(frame.nameLength);
        error = AppendKeyName(e->hive, child, &e->name);
        if (error == ERROR_SUCCESS) error = PutKey(e, child);
        frames[depth++] = Frame{child, {}, e->name.Length()};
    }
    return error;
}

}  // namespace

int ExportKey(const wchar_t* backupFolder, const KeyInBackup& key, const wchar_t* file) {
    HiveHandle hive;
    wchar_t line[2 * JoinedPathCapacity + 128];
    DWORD error = OpenBackupHive(backupFolder, key.label, false, &hive);
    if (error == ERROR_FILE_NOT_FOUND) {
        FormatText(line, ARRAYSIZE(line), L"(!) The backup holds no %s, the hive of %s", key.label,
                   key.hiveKey);
        PrintLine(line);
        return ExitRefused;
    }
    if (error != ERROR_SUCCESS) {
        PrintLine(L"(!) Nothing was written");
        return ExitFailed;
    }
    Export e{};  // its buffers are larger than the rest of the frame, but far within the stack
    e.hive = hive.get();
    HiveKey top = 0;
    error = FindKeyInHive(e.hive, key, &top, &e.name);
    if (error == ERROR_FILE_NOT_FOUND) {
        FormatText(line, ARRAYSIZE(line), L"(!) %s\\%.*s does not exist in %s", key.hiveKey,
                   static_cast<int>(key.belowLength), key.below, key.label);
        PrintLine(line);
        PrintLine(L"(!) Nothing was written");
        return ExitFailed;
    }
    if (error == ERROR_SUCCESS) {
        error = CreateRegFile(&e.reg, file);
        if (error != ERROR_SUCCESS) {
            FormatText(line, ARRAYSIZE(line), L"(!) Unable to create %s", file);
            PrintError(error, line);
            return ExitFailed;
        }
        error = PutTree(&e, top);
        const DWORD closed = CloseRegFile(&e.reg);
        if (error == ERROR_SUCCESS) error = closed;
        if (error != ERROR_SUCCESS) DeleteFileW(file);
    }
    if (error != ERROR_SUCCESS) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to export %s; nothing was written",
                   e.name.Length() ? e.name.Text() : key.hiveKey);
        PrintError(error, line);
        return ExitFailed;
    }
    FormatText(line, ARRAYSIZE(line), L"Exported %lu keys and %lu values to %s", e.keys, e.values,
               file);
    PrintLine(line);
    return ExitDone;
}
