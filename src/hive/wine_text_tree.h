#pragma once
// Wine's text save of a key, parsed whole into memory: for the hive room's
// own files. The walk calls of hive/hive.h read it through
// hive/wine_text_reader.h; a key's handle is its index + 1, a value's too.
#include <windows.h>

#include "hive/hive.h"

// Larger than any save Wine makes of a real registry; a larger file is not
// parsed. Names and data then take at most twice as many bytes.
constexpr DWORD MaxWineTextBytes = 128u << 20;
// As deep as the check lets a regf hive go.
constexpr DWORD MaxWineTextDepth = 512;

struct TextKey {
    DWORD parent;      // index; the root is its own parent
    DWORD firstChild;  // handle (index + 1), 0 for none; then each child's next
    DWORD lastChild;
    DWORD next;
    DWORD children;
    DWORD name;  // in the name units
    DWORD nameLength;
    DWORD firstValue;  // index, once the parse has put each key's values together
    DWORD values;
    FILETIME lastWritten;
};

struct TextValue {
    DWORD key;  // index
    DWORD name;
    DWORD nameLength;  // 0 for the default value
    DWORD type;
    DWORD data;  // in the data bytes
    DWORD size;
};

struct WineTextTree {
    DWORD error;           // ERROR_SUCCESS once parsed, else why the walk calls fail
    const wchar_t* fault;  // what is wrong with the text, or nullptr
    DWORD faultLine;       // and on which line, from 1
    TextKey* keys;
    DWORD keyCount;
    DWORD keyCapacity;
    TextValue* values;
    DWORD valueCount;
    DWORD valueCapacity;
    wchar_t* names;
    DWORD nameUnits;
    DWORD nameCapacity;
    BYTE* data;
    DWORD dataBytes;
    DWORD dataCapacity;
    DWORD* slots;  // an open hash of (parent, name without case): key handles
    DWORD slotCount;
};

// Parses the text of `size` bytes (the header line first) into tree, which
// starts zeroed; tree->error says how it went. Time and memory grow with the
// size alone.
void ParseWineText(const char* text, DWORD size, WineTextTree* tree);
void FreeWineTextTree(WineTextTree* tree);

// The key of `parent` named `name` (its case aside), or 0.
DWORD FindTextChild(const WineTextTree* tree, DWORD parent, const wchar_t* name, DWORD length);
