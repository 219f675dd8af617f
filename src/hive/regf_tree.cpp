// The second pass of the check: the key tree from the root cell, each key
// with its security cell, class name, values and their data, and its
// subkey lists. Every cell but a security cell (which keys share) may be
// reached once only, so the walk ends whatever the references say, and a
// loop shows as a key reached twice. The walk goes depth first with a
// stack of its own, as deep as Windows lets a key path go.
#include "hive/regf_cells.h"
#include "hive/regf_check.h"

namespace {

using regf::ReadDword;
using regf::ReadWord;

constexpr DWORD MaxDepth = 512;
constexpr DWORD BatchBytes = 512;
constexpr DWORD SecurityCacheSize = 1024;

const wchar_t Twice[] = L"is referenced a second time";

// The entries of a list cell, read a batch at a time.
struct Entries {
    DWORD first;  // offset of the first entry
    DWORD width;
    DWORD count;
    DWORD next;
    const BYTE* inPlace;  // the entries, in a hive held whole; else read a batch at a time
    DWORD batchFirst;     // which entry batch[0] is
    DWORD held;
    BYTE batch[BatchBytes];
};

// A key whose subkeys are being gone through, one list at a time.
struct Frame {
    DWORD list;  // its subkey list
    bool indexRoot;
    DWORD leaves;  // the index root's entries
    DWORD leafIndex;
    DWORD leaf;  // the list whose entries are being read
    Entries entries;
};

struct Tree {
    Hive* hive;
    DWORD aheadFrom;  // the lines from here
    DWORD aheadTo;    // to here were asked for ahead
    CheckFault* fault;
    DWORD error;
    Frame* frames;
    DWORD securityChecked[SecurityCacheSize];  // offsets + 1 of sound security cells
};

unsigned long long FileOffset(DWORD at) { return regf::BaseBlockBytes + at; }

bool Fail(Tree* tree, const wchar_t* subject, const wchar_t* problem, unsigned long long at) {
    if (problem == CellReadFailed) {
        tree->error = tree->hive->bytes.error ? tree->hive->bytes.error : ERROR_READ_FAULT;
    } else {
        tree->fault->subject = subject;
        tree->fault->problem = problem;
        tree->fault->at = at;
    }
    return false;
}

// A fault met reading the cell at `target`, referenced from `from`: told at
// the reference when it points nowhere, at the cell otherwise.
bool CellFault(Tree* tree, const wchar_t* subject, const wchar_t* problem, unsigned long long from,
               DWORD target) {
    const bool reference = problem == Twice || IsReferenceProblem(problem);
    return Fail(tree, subject, problem, reference ? from : FileOffset(target));
}

// Asks for the lines from `at` on ahead of their use: the cells a key
// holds, its values and their data mostly follow it.
void Ahead(Tree* tree, DWORD at) {
    constexpr DWORD Window = 16384;
    if (at < tree->aheadFrom || at > tree->aheadTo) {
        tree->aheadFrom = at & ~63u;
        tree->aheadTo = at & ~63u;
    }
    for (; tree->aheadTo < at + Window; tree->aheadTo += 64) {
        HiveBytesAhead(&tree->hive->bytes, tree->aheadTo);
    }
}

// A cell is reached once: its bit goes, and a later reference finds none.
void Claim(Tree* tree, DWORD at) { tree->hive->allocated[at >> 8] &= ~(1u << ((at >> 3) & 31)); }

// Reads the cell at `at` with `read`. A cell reached before has lost its
// bit; it is read as it was, so that a reference to a cell of the wrong
// kind is told as such, and one to a cell of the right kind as a second.
template <class Read>
const wchar_t* ReadOnce(Tree* tree, DWORD at, Read read) {
    Hive* hive = tree->hive;
    if (at >= hive->binsSize || at % regf::CellAlignment != 0 ||
        CellAllocated(hive->allocated, at) || !ReachedBefore(hive, at)) {
        return read();
    }
    hive->allocated[at >> 8] |= 1u << ((at >> 3) & 31);
    const wchar_t* problem = read();
    Claim(tree, at);
    return problem ? problem : Twice;
}

void StartEntries(Tree* tree, Entries* entries, DWORD first, DWORD width, DWORD count) {
    entries->first = first;
    entries->width = width;
    entries->count = count;
    entries->next = 0;
    entries->batchFirst = 0;
    entries->held = 0;
    // In a hive held whole the entries are read where they lie.
    const HiveBytes* bytes = &tree->hive->bytes;
    entries->inPlace = nullptr;
    if (bytes->image && first <= bytes->size && count <= (bytes->size - first) / width) {
        entries->inPlace = bytes->image + first;
    }
}

// The next entry's offset; false after the last, or when the list could not
// be read (tree->error says so then). Its cell was found to hold them all.
bool NextEntry(Tree* tree, Entries* entries, DWORD* value) {
    constexpr DWORD Lead = 4;  // how many entries ahead their cells are asked for
    if (entries->next >= entries->count) return false;
    if (entries->inPlace) {
        if (entries->next + Lead < entries->count) {
            HiveBytesAhead(&tree->hive->bytes,
                           ReadDword(entries->inPlace + (entries->next + Lead) * entries->width));
        }
        *value = ReadDword(entries->inPlace + entries->next * entries->width);
        ++entries->next;
        return true;
    }
    if (entries->next >= entries->batchFirst + entries->held) {
        const DWORD left = entries->count - entries->next;
        const DWORD take = left < BatchBytes / entries->width ? left : BatchBytes / entries->width;
        if (!HiveBytesRead(&tree->hive->bytes, entries->first + entries->next * entries->width,
                           entries->batch, take * entries->width)) {
            return Fail(tree, nullptr, CellReadFailed, 0);
        }
        entries->batchFirst = entries->next;
        entries->held = take;
    }
    *value = ReadDword(entries->batch + (entries->next - entries->batchFirst) * entries->width);
    ++entries->next;
    return true;
}

// Room for `count` DWORDs, or more than any cell holds.
DWORD ListBytes(DWORD count) { return count > 0x3FFFFFFF ? 0xFFFFFFFF : count * 4; }

bool CheckSecurity(Tree* tree, DWORD at, unsigned long long from) {
    DWORD& checked = tree->securityChecked[(at >> 3) % SecurityCacheSize];
    if (at < tree->hive->binsSize && checked == at + 1) return true;
    const wchar_t* subject = L"key security";
    DWORD size = 0;
    BYTE local[regf::SecurityDescriptor];
    const BYTE* cell = nullptr;
    const wchar_t* problem = ReadOnce(tree, at, [&] {
        return ReadSigned(tree->hive, at, "sk", L"is not a security cell", sizeof(local), local,
                          &cell, &size);
    });
    if (problem) return CellFault(tree, subject, problem, from, at);
    if (ReadDword(cell + regf::SecurityDescriptorSize) > size - regf::SecurityDescriptor) {
        return Fail(tree, subject, L"descriptor runs past its cell", FileOffset(at));
    }
    checked = at + 1;
    return true;
}

// The quick road: a cell read where it lies in memory, when all is well
// with it. Each says false, having changed nothing, at the first doubt; the
// checked readers then go over the same cell and say what is wrong.
// Everything they hold a cell to is held here too.
bool Unreached(const Hive* hive, DWORD at) {
    return at < hive->binsSize && at % regf::CellAlignment == 0 &&
           CellAllocated(hive->allocated, at);
}

// The first `count` bytes of a cell that Unreached passed, where they lie,
// or nullptr. Valid until the next read.
const BYTE* InPlace(Tree* tree, DWORD at, DWORD count) {
    return HiveBytesView(&tree->hive->bytes, at, count, nullptr);
}

// The size of the cell at `cell`, its size field included; the pass over
// the bins found every marked cell whole within its bin.
DWORD SizeAt(const BYTE* cell) { return 0 - ReadDword(cell); }

bool QuickData(Tree* tree, DWORD at, DWORD bytes) {
    if (!Unreached(tree->hive, at)) return false;
    const BYTE* cell = InPlace(tree, at, regf::CellSizeBytes);
    if (!cell || SizeAt(cell) - regf::CellSizeBytes < bytes) return false;
    Claim(tree, at);
    return true;
}

// Unlike the others, it leaves the list to be claimed.
bool QuickList(Tree* tree, DWORD at, ListCell* list) {
    if (!Unreached(tree->hive, at)) return false;
    const BYTE* cell = InPlace(tree, at, regf::ListEntries);
    if (!cell || (cell[4] != 'l' && cell[4] != 'r')) return false;
    if (cell[4] == 'l' && (cell[5] == 'f' || cell[5] == 'h')) {
        list->width = 8;
    } else if (cell[5] == 'i') {
        list->width = 4;
    } else {
        return false;
    }
    list->indexRoot = cell[4] == 'r';
    list->count = ReadWord(cell + regf::ListCount);
    return list->count <= (SizeAt(cell) - regf::ListEntries) / list->width;
}

// A cell of data: at least `bytes` long, and used by nothing else.
bool CheckData(Tree* tree, DWORD at, DWORD bytes, const wchar_t* subject, unsigned long long from) {
    if (QuickData(tree, at, bytes)) return true;
    DWORD size = 0;
    const wchar_t* problem =
        ReadOnce(tree, at, [&] { return ReadCell(tree->hive, at, bytes, &size); });
    if (problem) return CellFault(tree, subject, problem, from, at);
    Claim(tree, at);
    return true;
}

bool CheckBigData(Tree* tree, DWORD at, DWORD dataSize, unsigned long long from) {
    const wchar_t* subject = L"value data";
    DWORD size = 0;
    BYTE local[regf::BigDataHeaderBytes];
    const BYTE* cell = nullptr;
    const wchar_t* problem = ReadOnce(tree, at, [&] {
        return ReadSigned(tree->hive, at, "db", L"is not big data", sizeof(local), local, &cell,
                          &size);
    });
    if (problem) return CellFault(tree, subject, problem, from, at);
    Claim(tree, at);
    const unsigned long long self = FileOffset(at);
    const DWORD segments = ReadWord(cell + regf::BigDataSegmentCount);
    const DWORD full = regf::BigDataSegmentBytes;
    if (segments != dataSize / full + (dataSize % full != 0)) {
        return Fail(tree, L"big data", L"segment count does not match the value's size", self);
    }
    const DWORD list = ReadDword(cell + regf::BigDataSegmentList);
    if (!CheckData(tree, list, ListBytes(segments), L"big data segment list", self)) return false;
    Entries entries;
    StartEntries(tree, &entries, list + regf::CellSizeBytes, 4, segments);
    DWORD segment = 0;
    for (DWORD index = 0; NextEntry(tree, &entries, &segment); ++index) {
        const DWORD bytes = index + 1 < segments ? full : dataSize - full * index;
        if (!CheckData(tree, segment, bytes, L"big data segment", FileOffset(list))) return false;
    }
    return tree->error == ERROR_SUCCESS;
}

bool QuickValue(Tree* tree, DWORD at) {
    const Hive* hive = tree->hive;
    if (!Unreached(hive, at)) return false;
    const BYTE* cell = InPlace(tree, at, regf::ValueName);
    if (!cell) return false;
    const DWORD size = SizeAt(cell);
    if (size < regf::ValueName || cell[4] != 'v' || cell[5] != 'k') return false;
    const DWORD nameBytes = ReadWord(cell + regf::ValueNameLength);
    if (nameBytes > size - regf::ValueName) return false;
    if (!(ReadWord(cell + regf::ValueFlags) & regf::ValueCompressedName) && nameBytes % 2 != 0) {
        return false;
    }
    const DWORD dataSize = ReadDword(cell + regf::ValueDataSize);
    const DWORD data = ReadDword(cell + regf::ValueData);
    const DWORD bytes = dataSize & ~regf::ValueDataInline;
    if (dataSize & regf::ValueDataInline) {
        if (bytes > 4) return false;
    } else if (bytes > 0) {
        if (hive->minor >= regf::BigDataMinorVersion && bytes > regf::BigDataSegmentBytes) {
            return false;
        }
        if (data == at || !QuickData(tree, data, bytes)) return false;
    }
    Claim(tree, at);
    return true;
}

bool QuickKey(Tree* tree, DWORD at, KeyCell* key) {
    if (!Unreached(tree->hive, at)) return false;
    const BYTE* cell = InPlace(tree, at, regf::KeyName);
    if (!cell) return false;
    const DWORD size = SizeAt(cell);
    if (size < regf::KeyName || cell[4] != 'n' || cell[5] != 'k') return false;
    if (DecodeKeyCell(cell, size, key)) return false;
    Claim(tree, at);
    return true;
}

bool CheckValue(Tree* tree, DWORD at, unsigned long long from) {
    ValueCell value;
    const wchar_t* subject = L"value";
    const wchar_t* problem =
        ReadOnce(tree, at, [&] { return ReadValueCell(tree->hive, at, &value); });
    if (problem) return CellFault(tree, subject, problem, from, at);
    Claim(tree, at);
    const unsigned long long self = FileOffset(at);
    const DWORD size = value.dataSize & ~regf::ValueDataInline;
    if (value.dataSize & regf::ValueDataInline) {
        if (size <= 4) return true;
        return Fail(tree, subject, L"claims more than 4 bytes of data in its data field", self);
    }
    if (size == 0) return true;
    if (tree->hive->minor >= regf::BigDataMinorVersion && size > regf::BigDataSegmentBytes) {
        return CheckBigData(tree, value.data, size, self);
    }
    return CheckData(tree, value.data, size, L"value data", self);
}

bool CheckValues(Tree* tree, const KeyCell& key, unsigned long long self) {
    if (key.valueCount == 0) return true;
    if (!CheckData(tree, key.valueList, ListBytes(key.valueCount), L"value list", self)) {
        return false;
    }
    Entries entries;
    StartEntries(tree, &entries, key.valueList + regf::CellSizeBytes, 4, key.valueCount);
    DWORD value = 0;
    while (NextEntry(tree, &entries, &value)) {
        if (QuickValue(tree, value)) continue;
        if (!CheckValue(tree, value, FileOffset(key.valueList))) return false;
    }
    return tree->error == ERROR_SUCCESS;
}

bool CheckKey(Tree* tree, DWORD at, const wchar_t* subject, unsigned long long from, KeyCell* key) {
    Ahead(tree, at);
    if (!QuickKey(tree, at, key)) {
        const wchar_t* problem =
            ReadOnce(tree, at, [&] { return ReadKeyCell(tree->hive, at, key); });
        if (problem) return CellFault(tree, subject, problem, from, at);
        Claim(tree, at);
    }
    HiveBytesAhead(&tree->hive->bytes, key->valueList);
    if (key->subkeyCount > 0) HiveBytesAhead(&tree->hive->bytes, key->subkeyList);
    const unsigned long long self = FileOffset(at);
    if (!CheckSecurity(tree, key->security, self)) return false;
    if (key->classBytes > 0 &&
        !CheckData(tree, key->classCell, key->classBytes, L"class name", self)) {
        return false;
    }
    return CheckValues(tree, *key, self);
}

// Makes `leaf`, a list found sound and claimed before, the list whose
// entries the frame reads next.
bool StartLeaf(Tree* tree, Frame* frame, DWORD leaf) {
    BYTE local[regf::ListEntries];
    const BYTE* header = HiveBytesView(&tree->hive->bytes, leaf, sizeof(local), local);
    if (!header) return Fail(tree, nullptr, CellReadFailed, 0);
    const DWORD width = header[5] == 'f' || header[5] == 'h' ? 8 : 4;
    frame->leaf = leaf;
    StartEntries(tree, &frame->entries, leaf + regf::ListEntries, width,
                 ReadWord(header + regf::ListCount));
    return true;
}

// The next list of an index root; false after its last.
bool NextLeaf(Tree* tree, Frame* frame) {
    if (!frame->indexRoot || frame->leafIndex + 1 >= frame->leaves) return false;
    ++frame->leafIndex;
    BYTE entry[4];
    if (!HiveBytesRead(&tree->hive->bytes, frame->list + regf::ListEntries + 4 * frame->leafIndex,
                       entry, sizeof(entry))) {
        return Fail(tree, nullptr, CellReadFailed, 0);
    }
    return StartLeaf(tree, frame, ReadDword(entry));
}

// Checks a key's subkey list, whose counts must add up to the key's, and
// readies the frame to go through it. An index root holds lists one level
// deep.
bool Enter(Tree* tree, Frame* frame, DWORD keyAt, const KeyCell& key) {
    const unsigned long long self = FileOffset(keyAt);
    ListCell list;
    if (QuickList(tree, key.subkeyList, &list)) {
        Claim(tree, key.subkeyList);
    } else {
        const wchar_t* problem = ReadOnce(
            tree, key.subkeyList, [&] { return ReadListCell(tree->hive, key.subkeyList, &list); });
        if (problem) return CellFault(tree, L"subkey list", problem, self, key.subkeyList);
        Claim(tree, key.subkeyList);
    }
    frame->list = key.subkeyList;
    frame->indexRoot = list.indexRoot;
    frame->leaves = list.count;
    frame->leafIndex = 0;
    DWORD total = list.count;
    if (list.indexRoot) {
        total = 0;
        const unsigned long long root = FileOffset(key.subkeyList);
        StartEntries(tree, &frame->entries, key.subkeyList + regf::ListEntries, 4, list.count);
        DWORD leafAt = 0;
        while (NextEntry(tree, &frame->entries, &leafAt)) {
            const wchar_t* subject = L"list of an index root";
            ListCell leaf;
            if (QuickList(tree, leafAt, &leaf) && !leaf.indexRoot) {
                Claim(tree, leafAt);
                total += leaf.count;
                continue;
            }
            const wchar_t* problem = ReadOnce(tree, leafAt, [&] {
                const wchar_t* read = ReadListCell(tree->hive, leafAt, &leaf);
                return read || !leaf.indexRoot ? read : L"is another index root";
            });
            if (problem) return CellFault(tree, subject, problem, root, leafAt);
            Claim(tree, leafAt);
            total += leaf.count;
        }
        if (tree->error != ERROR_SUCCESS) return false;
    }
    if (total != key.subkeyCount) {
        return Fail(tree, nullptr, L"key's subkey count does not match its subkey list", self);
    }
    if (!list.indexRoot) return StartLeaf(tree, frame, key.subkeyList);
    frame->leafIndex = static_cast<DWORD>(-1);
    frame->leaves = list.count;
    return NextLeaf(tree, frame);
}

void Walk(Tree* tree) {
    KeyCell key;
    Hive* hive = tree->hive;
    if (!CheckKey(tree, hive->root, L"root cell", regf::RootCellOffset, &key)) return;
    DWORD depth = 0;
    if (key.subkeyCount > 0) {
        if (!Enter(tree, &tree->frames[0], hive->root, key)) return;
        depth = 1;
    }
    while (depth > 0) {
        Frame* frame = &tree->frames[depth - 1];
        DWORD child = 0;
        if (!NextEntry(tree, &frame->entries, &child)) {
            if (tree->error != ERROR_SUCCESS) return;
            if (!NextLeaf(tree, frame)) {
                if (tree->fault->problem || tree->error != ERROR_SUCCESS) return;
                --depth;
            }
            continue;
        }
        if (!CheckKey(tree, child, L"subkey", FileOffset(frame->leaf), &key)) return;
        if (key.subkeyCount == 0) continue;
        if (depth == MaxDepth) {
            Fail(tree, nullptr, L"key tree is more than 512 levels deep", FileOffset(child));
            return;
        }
        if (!Enter(tree, &tree->frames[depth], child, key)) return;
        ++depth;
    }
}

}  // namespace

DWORD CheckKeyTree(Hive* hive, CheckFault* fault) {
    Tree* tree = static_cast<Tree*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Tree)));
    if (!tree) return ERROR_NOT_ENOUGH_MEMORY;
    tree->hive = hive;
    tree->fault = fault;
    // Enter fills a frame before it is used, so the frames are not zeroed:
    // all 512 of them are larger than a small hive.
    tree->frames =
        reinterpret_cast<Frame*>(hive->bytes.memory->Room(HiveFrames, MaxDepth * sizeof(Frame)));
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    if (tree->frames) {
        Walk(tree);
        error = tree->error;
    }
    HeapFree(GetProcessHeap(), 0, tree);
    return error;
}
