// Wine's text save, line by line: "[path] seconds" starts a key (its path
// relative to the saved key, "\\" between names, "[]" the saved key itself),
// "#time=" gives its last written time as a hex FILETIME, other "#" lines
// (#arch, #class, #link) and ";" comments are passed over, and each value is
// `"name"=` or `@=` with one of:
//   "text"                       REG_SZ, its terminating NUL implied
//   str(N):"text"                type N (hex), the same
//   dword:XXXXXXXX               REG_DWORD
//   hex:XX,XX,...  hex(N):...    REG_BINARY, type N; a line ending in "\"
//                                goes on with the next
// Quoted text escapes "\\", "\"", "\[", "\]", controls ("\n", "\a", "\e"
// ...), "\xHHHH" (one to four hex digits) and octal "\ooo"; Wine writes no
// byte above 127.
#include <string.h>

#include "hive/wine_text_tree.h"
#include "shared/heap_block.h"
#include "shared/name_case.h"

namespace {

struct Parser {
    WineTextTree* tree;
    const char* next;  // the start of the next line
    const char* end;
    const char* at;  // within the current line
    const char* lineEnd;
    DWORD line;
    DWORD current;  // the key values go to, + 1; 0 before the first key
    wchar_t* scratch;
    DWORD scratchUnits;
    DWORD scratchCapacity;
};

bool Grow(void** items, DWORD* capacity, DWORD need, DWORD itemSize) {
    if (need <= *capacity) return true;
    DWORD wanted = *capacity < 64 ? 64 : *capacity;
    while (wanted < need) wanted = wanted > 0x7FFFFFFF ? need : wanted * 2;
    if (static_cast<unsigned long long>(wanted) * itemSize > 0x7FFFFFFF) return false;
    void* grown = GrowHeapBlock(*items, static_cast<size_t>(*capacity) * itemSize,
                                static_cast<size_t>(wanted) * itemSize);
    if (!grown) return false;
    *items = grown;
    *capacity = wanted;
    return true;
}

template <class T>
bool GrowFor(T** items, DWORD* capacity, DWORD need) {
    void* raw = *items;
    const bool grown = Grow(&raw, capacity, need, sizeof(T));
    *items = static_cast<T*>(raw);
    return grown;
}

bool Fail(Parser* parser, const wchar_t* fault) {
    WineTextTree* tree = parser->tree;
    if (tree->error == ERROR_SUCCESS) {
        tree->error = fault ? ERROR_BADDB : ERROR_NOT_ENOUGH_MEMORY;
        tree->fault = fault;
        tree->faultLine = parser->line;
    }
    return false;
}

bool NextLine(Parser* parser) {
    if (parser->next >= parser->end) return false;
    const char* start = parser->next;
    const char* stop = static_cast<const char*>(memchr(start, '\n', parser->end - start));
    parser->next = stop ? stop + 1 : parser->end;
    if (!stop) stop = parser->end;
    if (stop > start && stop[-1] == '\r') --stop;
    parser->at = start;
    parser->lineEnd = stop;
    ++parser->line;
    return true;
}

void SkipBlanks(Parser* parser) {
    while (parser->at < parser->lineEnd && (*parser->at == ' ' || *parser->at == '\t')) {
        ++parser->at;
    }
}

bool Take(Parser* parser, const char* word) {
    const size_t length = strlen(word);
    if (static_cast<size_t>(parser->lineEnd - parser->at) < length ||
        memcmp(parser->at, word, length) != 0) {
        return false;
    }
    parser->at += length;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to `most` hex digits, at least one.
bool ReadHex(Parser* parser, int most, unsigned long long* value) {
    int digits = 0;
    *value = 0;
    for (; digits < most && parser->at < parser->lineEnd; ++digits) {
        const int digit = HexDigit(*parser->at);
        if (digit < 0) break;
        *value = *value * 16 + static_cast<unsigned>(digit);
        ++parser->at;
    }
    return digits > 0;
}

bool PutUnit(Parser* parser, DWORD unit) {
    if (!GrowFor(&parser->scratch, &parser->scratchCapacity, parser->scratchUnits + 2)) {
        return Fail(parser, nullptr);
    }
    if (unit >= 0x10000) {
        unit -= 0x10000;
        parser->scratch[parser->scratchUnits++] = static_cast<wchar_t>(0xD800 + (unit >> 10));
        unit = 0xDC00 + (unit & 0x3FF);
    }
    parser->scratch[parser->scratchUnits++] = static_cast<wchar_t>(unit);
    return true;
}

// Wine writes ASCII alone, every other character escaped.
bool PutPlain(Parser* parser, unsigned char c) {
    return c < 0x80 ? PutUnit(parser, c) : Fail(parser, L"text holds a byte above 127");
}

bool PutEscape(Parser* parser) {
    static const char Controls[] =
        "a\ab\be\x1b"
        "f\fn\nr\rt\tv\v";
    const char c = *parser->at++;
    if (c == 'x') {
        unsigned long long unit = 0;
        return PutUnit(parser, ReadHex(parser, 4, &unit) ? static_cast<DWORD>(unit) : 'x');
    }
    if (c >= '0' && c <= '7') {
        DWORD unit = static_cast<DWORD>(c - '0');
        for (int i = 1;
             i < 3 && parser->at < parser->lineEnd && *parser->at >= '0' && *parser->at <= '7';
             ++i) {
            unit = unit * 8 + static_cast<DWORD>(*parser->at++ - '0');
        }
        return PutUnit(parser, unit);
    }
    for (size_t i = 0; Controls[i]; i += 2) {
        if (Controls[i] == c) return PutUnit(parser, static_cast<unsigned char>(Controls[i + 1]));
    }
    return PutPlain(parser, static_cast<unsigned char>(c));
}

// The units of quoted text up to `delimiter`, unescaped, into the scratch;
// the parser stands after the delimiter.
bool ReadQuoted(Parser* parser, char delimiter) {
    parser->scratchUnits = 0;
    while (parser->at < parser->lineEnd) {
        const unsigned char c = static_cast<unsigned char>(*parser->at++);
        if (c == static_cast<unsigned char>(delimiter)) return true;
        const bool escaped = c == '\\' && parser->at < parser->lineEnd;
        if (!(escaped ? PutEscape(parser) : PutPlain(parser, c))) return false;
    }
    return Fail(parser, L"quoted text has no end on its line");
}

DWORD HashName(DWORD parent, const wchar_t* name, DWORD length) {
    DWORD hash = 2166136261u ^ parent;
    for (DWORD i = 0; i < length; ++i) hash = (hash ^ NameUpper(name[i])) * 16777619u;
    return hash;
}

void PlaceInSlots(WineTextTree* tree, DWORD handle) {
    const TextKey& key = tree->keys[handle - 1];
    DWORD slot = HashName(key.parent, tree->names + key.name, key.nameLength);
    for (;; ++slot) {
        DWORD& entry = tree->slots[slot & (tree->slotCount - 1)];
        if (entry == 0) {
            entry = handle;
            return;
        }
    }
}

// Keeps the hash at most half full with one more key.
bool GrowSlots(WineTextTree* tree) {
    if ((tree->keyCount + 1) * 2 < tree->slotCount) return true;
    const DWORD count = tree->slotCount ? tree->slotCount * 2 : 1024;
    DWORD* slots =
        static_cast<DWORD*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * sizeof(DWORD)));
    if (!slots) return false;
    if (tree->slots) HeapFree(GetProcessHeap(), 0, tree->slots);
    tree->slots = slots;
    tree->slotCount = count;
    for (DWORD handle = 2; handle <= tree->keyCount; ++handle) PlaceInSlots(tree, handle);
    return true;
}

// Appends units to the name pool; their offset in *at.
bool KeepName(Parser* parser, const wchar_t* units, DWORD length, DWORD* at) {
    WineTextTree* tree = parser->tree;
    if (!GrowFor(&tree->names, &tree->nameCapacity, tree->nameUnits + length + 1)) {
        return Fail(parser, nullptr);
    }
    *at = tree->nameUnits;
    memcpy(tree->names + tree->nameUnits, units, length * sizeof(wchar_t));
    tree->nameUnits += length;
    return true;
}

bool AddKey(Parser* parser, DWORD parent, const wchar_t* name, DWORD length, DWORD* index) {
    WineTextTree* tree = parser->tree;
    TextKey key{};
    if (!KeepName(parser, name, length, &key.name)) return false;
    if (!GrowFor(&tree->keys, &tree->keyCapacity, tree->keyCount + 1) || !GrowSlots(tree)) {
        return Fail(parser, nullptr);
    }
    key.parent = parent;
    key.nameLength = length;
    *index = tree->keyCount;
    tree->keys[tree->keyCount++] = key;
    if (*index == 0) return true;
    TextKey& above = tree->keys[parent];
    if (above.lastChild) {
        tree->keys[above.lastChild - 1].next = *index + 1;
    } else {
        above.firstChild = *index + 1;
    }
    above.lastChild = *index + 1;
    ++above.children;
    PlaceInSlots(tree, *index + 1);
    return true;
}

// "[path] seconds": the key, made with every key on its way as needed.
bool ReadKeyLine(Parser* parser) {
    WineTextTree* tree = parser->tree;
    ++parser->at;
    if (!ReadQuoted(parser, ']')) return false;
    DWORD key = 0;
    DWORD depth = 0;
    const wchar_t* path = parser->scratch;
    const DWORD units = parser->scratchUnits;
    for (DWORD start = 0; units > 0 && start <= units;) {
        DWORD stop = start;
        while (stop < units && path[stop] != L'\\') ++stop;
        if (stop == start) return Fail(parser, L"key path holds an empty name");
        if (++depth > MaxWineTextDepth) return Fail(parser, L"key lies more than 512 levels deep");
        const DWORD found = FindTextChild(tree, key, path + start, stop - start);
        if (found) {
            key = found - 1;
        } else if (!AddKey(parser, key, path + start, stop - start, &key)) {
            return false;
        }
        start = stop + 1;
    }
    SkipBlanks(parser);
    unsigned long long seconds = 0;
    bool digits = false;
    for (; parser->at < parser->lineEnd && *parser->at >= '0' && *parser->at <= '9'; ++parser->at) {
        if (seconds < 0xFFFFFFFFull)
            seconds = seconds * 10 + static_cast<unsigned>(*parser->at - '0');
        digits = true;
    }
    if (digits) {
        // Seconds since 1970, as FILETIME counts from 1601.
        const unsigned long long time = (seconds + 11644473600ull) * 10000000ull;
        tree->keys[key].lastWritten.dwLowDateTime = static_cast<DWORD>(time);
        tree->keys[key].lastWritten.dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
    parser->current = key + 1;
    return true;
}

bool PutByte(Parser* parser, BYTE byte) {
    WineTextTree* tree = parser->tree;
    if (!GrowFor(&tree->data, &tree->dataCapacity, tree->dataBytes + 1)) {
        return Fail(parser, nullptr);
    }
    tree->data[tree->dataBytes++] = byte;
    return true;
}

// "XX,XX,\" and on over the lines that follow.
bool ReadHexBytes(Parser* parser) {
    for (;;) {
        SkipBlanks(parser);
        if (parser->at == parser->lineEnd) return true;
        if (*parser->at == '\\') {
            ++parser->at;
            SkipBlanks(parser);
            if (parser->at != parser->lineEnd)
                return Fail(parser, L"hex data holds a stray \"\\\"");
            if (!NextLine(parser))
                return Fail(parser, L"hex data goes on past the end of the file");
            continue;
        }
        unsigned long long byte = 0;
        if (!ReadHex(parser, 2, &byte)) return Fail(parser, L"hex data holds what is not hex");
        if (!PutByte(parser, static_cast<BYTE>(byte))) return false;
        SkipBlanks(parser);
        if (parser->at < parser->lineEnd && *parser->at == ',') ++parser->at;
    }
}

bool EndOfValue(Parser* parser) {
    SkipBlanks(parser);
    return parser->at == parser->lineEnd || Fail(parser, L"value line goes on after its data");
}

bool ReadData(Parser* parser, TextValue* value) {
    unsigned long long number = 0;
    if (Take(parser, "dword:")) {
        if (!ReadHex(parser, 8, &number)) return Fail(parser, L"dword value holds no hex number");
        value->type = REG_DWORD;
        for (int i = 0; i < 4; ++i) {
            if (!PutByte(parser, static_cast<BYTE>(number >> (8 * i)))) return false;
        }
        return EndOfValue(parser);
    }
    if (Take(parser, "hex:")) {
        value->type = REG_BINARY;
        return ReadHexBytes(parser);
    }
    value->type = REG_SZ;
    const bool typedText = Take(parser, "str(");
    if (typedText || Take(parser, "hex(")) {
        if (!ReadHex(parser, 8, &number) || !Take(parser, "):")) {
            return Fail(parser, L"value type is not a hex number in brackets");
        }
        value->type = static_cast<DWORD>(number);
        if (!typedText) return ReadHexBytes(parser);
    }
    if (!Take(parser, "\"")) return Fail(parser, L"value data is of no form Wine writes");
    if (!ReadQuoted(parser, '"') || !PutUnit(parser, 0)) return false;
    for (DWORD i = 0; i < parser->scratchUnits; ++i) {
        if (!PutByte(parser, static_cast<BYTE>(parser->scratch[i])) ||
            !PutByte(parser, static_cast<BYTE>(parser->scratch[i] >> 8))) {
            return false;
        }
    }
    return EndOfValue(parser);
}

bool ReadValueLine(Parser* parser) {
    WineTextTree* tree = parser->tree;
    if (!parser->current) return Fail(parser, L"value stands before any key");
    TextValue value{};
    value.key = parser->current - 1;
    if (*parser->at++ == '"') {
        if (!ReadQuoted(parser, '"') ||
            !KeepName(parser, parser->scratch, parser->scratchUnits, &value.name)) {
            return false;
        }
        value.nameLength = parser->scratchUnits;
    }
    if (!Take(parser, "=")) return Fail(parser, L"value name is not followed by \"=\"");
    value.data = tree->dataBytes;
    if (!ReadData(parser, &value)) return false;
    value.size = tree->dataBytes - value.data;
    if (!GrowFor(&tree->values, &tree->valueCapacity, tree->valueCount + 1)) {
        return Fail(parser, nullptr);
    }
    tree->values[tree->valueCount++] = value;
    ++tree->keys[value.key].values;
    return true;
}

bool ReadTime(Parser* parser) {
    unsigned long long time = 0;
    if (!ReadHex(parser, 16, &time)) return Fail(parser, L"#time holds no hex number");
    FILETIME& written = parser->tree->keys[parser->current - 1].lastWritten;
    written.dwLowDateTime = static_cast<DWORD>(time);
    written.dwHighDateTime = static_cast<DWORD>(time >> 32);
    return true;
}

bool ReadLine(Parser* parser) {
    SkipBlanks(parser);
    if (parser->at == parser->lineEnd || *parser->at == ';') return true;
    switch (*parser->at) {
        case '[':
            return ReadKeyLine(parser);
        case '"':
        case '@':
            return ReadValueLine(parser);
        case '#':
            return !parser->current || !Take(parser, "#time=") || ReadTime(parser);
        default:
            return Fail(parser, L"line is no key, value or comment");
    }
}

// Each key's values one after another, in the order the text gave them.
bool GatherValues(WineTextTree* tree) {
    if (tree->valueCount == 0) return true;
    TextValue* sorted = static_cast<TextValue*>(
        HeapAlloc(GetProcessHeap(), 0, tree->valueCount * sizeof(TextValue)));
    if (!sorted) return false;
    DWORD first = 0;
    for (DWORD k = 0; k < tree->keyCount; ++k) {
        tree->keys[k].firstValue = first;
        first += tree->keys[k].values;
    }
    for (DWORD k = 0; k < tree->keyCount; ++k) tree->keys[k].values = 0;
    for (DWORD v = 0; v < tree->valueCount; ++v) {
        TextKey& key = tree->keys[tree->values[v].key];
        sorted[key.firstValue + key.values++] = tree->values[v];
    }
    HeapFree(GetProcessHeap(), 0, tree->values);
    tree->values = sorted;
    tree->valueCapacity = tree->valueCount;
    return true;
}

}  // namespace

DWORD FindTextChild(const WineTextTree* tree, DWORD parent, const wchar_t* name, DWORD length) {
    if (!tree->slotCount) return 0;
    for (DWORD slot = HashName(parent, name, length);; ++slot) {
        const DWORD handle = tree->slots[slot & (tree->slotCount - 1)];
        if (handle == 0) return 0;
        const TextKey& key = tree->keys[handle - 1];
        if (key.parent == parent && handle > 1 && key.nameLength == length &&
            SameName(tree->names + key.name, name, length)) {
            return handle;
        }
    }
}

void ParseWineText(const char* text, DWORD size, WineTextTree* tree) {
    Parser parser{};
    parser.tree = tree;
    parser.next = text;
    parser.end = text + size;
    DWORD root = 0;
    tree->error = ERROR_SUCCESS;
    // The first line is the header, which opening the file has read.
    bool whole = NextLine(&parser) && AddKey(&parser, 0, L"", 0, &root);
    while (whole && NextLine(&parser)) whole = ReadLine(&parser);
    if (whole && !GatherValues(tree)) Fail(&parser, nullptr);
    if (parser.scratch) HeapFree(GetProcessHeap(), 0, parser.scratch);
}

void FreeWineTextTree(WineTextTree* tree) {
    void* const pools[] = {tree->keys, tree->values, tree->names, tree->data, tree->slots};
    for (void* pool : pools) {
        if (pool) HeapFree(GetProcessHeap(), 0, pool);
    }
    *tree = WineTextTree{};
}
