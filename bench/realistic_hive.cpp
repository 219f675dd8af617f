#include "realistic_hive.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hive/marvin32.h"
#include "hive/regf_layout.h"
#include "shared/owned_handle.h"
#include "timing.h"

namespace {

unsigned RandomState = 88172645u;
unsigned Next() { return NextXorshift(&RandomState); }
unsigned Below(unsigned n) { return Next() % n; }

std::vector<BYTE> Bins;

// The time every base block, log and first bin gives as the last written one.
constexpr unsigned long long LastWritten = 0x01DB3A0E5F4C2D00ull;

void Put32(DWORD at, DWORD value) { memcpy(&Bins[at], &value, 4); }
void Put16(DWORD at, WORD value) { memcpy(&Bins[at], &value, 2); }

// Cells are taken from 4 KiB bins; each stream fills bins of its own, taken
// from the end of the hive bins data as it needs them.
struct Stream {
    DWORD at = 0;
    DWORD end = 0;
};
Stream Streams[3];

void CloseBin(Stream* stream) {
    if (stream->end - stream->at >= 8) Put32(stream->at, stream->end - stream->at);
    stream->at = stream->end;
}

DWORD NewBin(DWORD size) {
    const DWORD at = static_cast<DWORD>(Bins.size());
    Bins.resize(at + size);
    memcpy(&Bins[at], "hbin", 4);
    Put32(at + 4, at);
    Put32(at + 8, size);
    return at;
}

// An allocated cell of `bytes` after its size field; its offset.
DWORD Cell(Stream* stream, DWORD bytes) {
    const DWORD size = (bytes + 4 + 7) & ~7u;
    if (stream->end - stream->at < size) {
        CloseBin(stream);
        const DWORD binSize = (size + 32 + 4095) & ~4095u;
        stream->at = NewBin(binSize) + 32;
        stream->end = stream->at - 32 + binSize;
    }
    // Now and then a freed cell lies before it.
    if (Below(16) == 0 && stream->end - stream->at >= size + 64) {
        const DWORD gap = 16 + 8 * Below(6);
        Put32(stream->at, gap);
        stream->at += gap;
    }
    const DWORD at = stream->at;
    Put32(at, static_cast<DWORD>(-static_cast<LONG>(size)));
    stream->at += size;
    return at;
}

DWORD Security[32];

struct Key {
    std::string name;
    DWORD parent;
    std::vector<DWORD> children;
    DWORD cell = 0;
};
std::vector<Key> Keys;

// Keys are made one after another, each under a recent key, any key, or
// one of four wide keys (as CLSID is), no deeper than 12.
void MakeShape(DWORD count) {
    Keys.assign(1, Key{"ROOT", 0, {}});
    std::vector<DWORD> depth(1, 0);
    char name[48];
    for (DWORD i = 1; i < count; ++i) {
        const unsigned pick = Below(100);
        DWORD parent = 0;
        if (i > 4) {
            parent = pick < 55   ? i - 1 - Below(i - 1 < 40 ? i - 1 : 40)
                     : pick < 93 ? Below(i)
                                 : 1 + Below(4);
        }
        if (depth[parent] >= 12) parent = 0;
        if (i > 4 && pick >= 93) {
            snprintf(name, sizeof(name), "{%08X-%04X-%04X-%04X-%08X%04X}", Next(), Below(65536),
                     Below(65536), Below(65536), Next(), Below(65536));
        } else {
            snprintf(name, sizeof(name), "%s%u", Below(3) ? "Setting" : "Component",
                     static_cast<unsigned>(Keys[parent].children.size()));
        }
        Keys.push_back(Key{name, parent, {}});
        depth.push_back(depth[parent] + 1);
        Keys[parent].children.push_back(i);
    }
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

DWORD Hash(const std::string& upper) {
    DWORD hash = 0;
    for (char c : upper) hash = hash * 37 + static_cast<unsigned char>(c);
    return hash;
}

DWORD ValuesMade = 0;
DWORD BigValuesMade = 0;
// Where the DWORD values and the keys below the root lie, for the changes
// of a second hive.
std::vector<DWORD> DwordValues;
std::vector<DWORD> NamedKeys;

DWORD MakeData(Stream* stream, DWORD size) {
    if (size <= 16344) {
        const DWORD cell = Cell(stream, size);
        for (DWORD i = 0; i < size; ++i) Bins[cell + 4 + i] = static_cast<BYTE>('A' + (i * 7) % 26);
        return cell;
    }
    const DWORD segments = (size + 16343) / 16344;
    const DWORD db = Cell(stream, 8);
    const DWORD list = Cell(stream, 4 * segments);
    memcpy(&Bins[db + 4], "db", 2);
    Put16(db + 6, static_cast<WORD>(segments));
    Put32(db + 8, list);
    // Windows gives the last segment a whole segment's cell too.
    for (DWORD s = 0; s < segments; ++s) Put32(list + 4 + 4 * s, Cell(stream, 16344));
    return db;
}

// A key's values: about three on average, mostly short strings and DWORDs.
void MakeValues(Stream* stream, DWORD nk) {
    static const unsigned Counts[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 4, 6, 9, 14, 25};
    const DWORD count = Counts[Below(ARRAYSIZE(Counts))];
    if (count == 0) return;
    std::vector<DWORD> cells;
    char name[32];
    for (DWORD v = 0; v < count; ++v) {
        const unsigned kind = Below(100);
        snprintf(name, sizeof(name), v == 0 && Below(4) == 0 ? "" : "Value%lu", v);
        const DWORD nameLength = static_cast<DWORD>(strlen(name));
        const DWORD vk = Cell(stream, 20 + nameLength);
        memcpy(&Bins[vk + 4], "vk", 2);
        Put16(vk + 6, static_cast<WORD>(nameLength));
        Put16(vk + 20, 1);
        memcpy(&Bins[vk + 24], name, nameLength);
        DWORD type = REG_SZ, size = 0;
        if (kind < 25) {
            type = REG_DWORD;
            DwordValues.push_back(vk);
            Put32(vk + 8, 0x80000004);
            Put32(vk + 12, Next());
        } else {
            if (kind < 80) {
                size = 2 * (8 + Below(60));
            } else if (kind < 97) {
                type = REG_BINARY;
                size = 8 + Below(600);
            } else if (kind < 99 || Below(20) != 0) {
                type = REG_MULTI_SZ;
                size = 2 * (40 + Below(200));
            } else {
                type = REG_BINARY;
                size = 20000 + Below(100000);
                ++BigValuesMade;
            }
            Put32(vk + 8, size);
            Put32(vk + 12, MakeData(stream, size));
        }
        Put32(vk + 16, type);
        cells.push_back(vk);
    }
    const DWORD list = Cell(stream, 4 * count);
    for (DWORD v = 0; v < count; ++v) Put32(list + 4 + 4 * v, cells[v]);
    Put32(nk + regf::KeyValueCount, count);
    Put32(nk + regf::KeyValueList, list);
    ValuesMade += count;
}

// A key, its values, then its subkeys, then its subkey list: lh lists of up
// to 500 keys, under an index root when there are more.
void Emit(DWORD index) {
    using namespace regf;
    Stream* stream = &Streams[Below(100) < 80 ? 0 : 1 + Below(2)];
    const std::string name = Keys[index].name;
    const DWORD nk = Cell(stream, KeyName - 4 + static_cast<DWORD>(name.size()));
    Keys[index].cell = nk;
    if (index > 0) NamedKeys.push_back(nk);
    memcpy(&Bins[nk + 4], "nk", 2);
    Put16(nk + KeyFlags, index == 0 ? 0x2C : KeyCompressedName);
    Put32(nk + KeyLastWritten, Next());
    Put32(nk + KeyLastWritten + 4, 0x01DB0000 + Below(1000));
    Put32(nk + KeyParent, index == 0 ? NoCell : Keys[Keys[index].parent].cell);
    for (DWORD field : {KeySubkeyList, KeySubkeyList + 4, KeyValueList, KeyClass}) {
        Put32(nk + field, NoCell);
    }
    Put32(nk + KeySecurity, Security[index == 0 ? 0 : Below(ARRAYSIZE(Security))]);
    Put16(nk + KeyNameLength, static_cast<WORD>(name.size()));
    memcpy(&Bins[nk + KeyName], name.data(), name.size());
    if (Below(30) == 0) {
        Put32(nk + KeyClass, Cell(stream, 32));
        Put16(nk + KeyClassLength, 32);
    }
    MakeValues(stream, nk);
    std::vector<DWORD> children = Keys[index].children;
    std::vector<std::pair<std::string, DWORD>> sorted;
    for (DWORD child : children) sorted.push_back({Upper(Keys[child].name), child});
    std::sort(sorted.begin(), sorted.end());
    for (const auto& child : sorted) Emit(child.second);
    if (sorted.empty()) return;
    std::vector<DWORD> leaves;
    for (size_t first = 0; first < sorted.size(); first += 500) {
        const DWORD count = static_cast<DWORD>(std::min<size_t>(500, sorted.size() - first));
        const DWORD lh = Cell(stream, 4 + 8 * count);
        memcpy(&Bins[lh + 4], "lh", 2);
        Put16(lh + ListCount, static_cast<WORD>(count));
        for (DWORD i = 0; i < count; ++i) {
            Put32(lh + ListEntries + 8 * i, Keys[sorted[first + i].second].cell);
            Put32(lh + ListEntries + 8 * i + 4, Hash(sorted[first + i].first));
        }
        leaves.push_back(lh);
    }
    DWORD list = leaves[0];
    if (leaves.size() > 1) {
        const DWORD count = static_cast<DWORD>(leaves.size());
        list = Cell(stream, 4 + 4 * count);
        memcpy(&Bins[list + 4], "ri", 2);
        Put16(list + ListCount, static_cast<WORD>(count));
        for (DWORD i = 0; i < count; ++i) Put32(list + ListEntries + 4 * i, leaves[i]);
    }
    Put32(nk + KeySubkeyCount, static_cast<DWORD>(sorted.size()));
    Put32(nk + KeySubkeyList, list);
}

void MakeSecurity() {
    for (DWORD i = 0; i < ARRAYSIZE(Security); ++i) {
        const DWORD descriptor = 100 + 8 * Below(20);
        Security[i] = Cell(&Streams[0], 20 + descriptor);
        memcpy(&Bins[Security[i] + 4], "sk", 2);
        Put32(Security[i] + 16, 1);
        Put32(Security[i] + 20, descriptor);
    }
    for (DWORD i = 0; i < ARRAYSIZE(Security); ++i) {
        const DWORD count = ARRAYSIZE(Security);
        Put32(Security[i] + 8, Security[(i + 1) % count]);
        Put32(Security[i] + 12, Security[(i + count - 1) % count]);
    }
}

// The hive for `keys` keys, made afresh.
void Make(DWORD keys) {
    RandomState = 88172645u;
    Bins.clear();
    for (Stream& stream : Streams) stream = Stream();
    ValuesMade = 0;
    BigValuesMade = 0;
    DwordValues.clear();
    NamedKeys.clear();
    MakeShape(keys);
    MakeSecurity();
    Emit(0);
    for (Stream& stream : Streams) CloseBin(&stream);
    // The first bin keeps a copy of the last written time.
    memcpy(&Bins[regf::FirstBinTimestampOffset], &LastWritten, 8);
}

DWORD BinsBytes = 0;

// Sequence numbers, last written time, version 1.5, the file type, the
// format Windows loads, the root, the bins' size, clustering 1.
void MakeBaseBlock(BYTE* base, DWORD primary, DWORD secondary, DWORD type) {
    memset(base, 0, regf::BaseBlockBytes);
    memcpy(base, "regf", 4);
    const DWORD fields[] = {primary,
                            secondary,
                            static_cast<DWORD>(LastWritten),
                            static_cast<DWORD>(LastWritten >> 32),
                            1,
                            5,
                            type,
                            1,
                            Keys[0].cell,
                            BinsBytes,
                            1};
    memcpy(base + regf::PrimarySequenceOffset, fields, sizeof(fields));
    regf::WriteDword(base + regf::ChecksumOffset, regf::BaseBlockChecksum(base));
}

// A file of these parts, one after another.
bool WriteParts(const wchar_t* path, std::initializer_list<std::pair<const BYTE*, size_t>> parts) {
    FileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    bool ok = file.valid();
    for (const auto& [bytes, count] : parts) {
        for (size_t at = 0; ok && at < count; at += 1 << 20) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(1 << 20, count - at));
            DWORD written = 0;
            ok = WriteFile(file.get(), bytes + at, chunk, &written, nullptr) && written == chunk;
        }
    }
    return ok;
}

// A primary file: the base block and Bins, slack included.
bool WriteBins(const wchar_t* path, DWORD primary = 1, DWORD secondary = 1) {
    BYTE base[regf::BaseBlockBytes];
    MakeBaseBlock(base, primary, secondary, regf::FileTypePrimary);
    return WriteParts(path, {{base, sizeof(base)}, {Bins.data(), Bins.size()}});
}

// A log's first sector: the primary's base block with the log's sequence
// number in both places and the log's file type.
std::vector<BYTE> LogSector(DWORD sequence, DWORD type) {
    std::vector<BYTE> base(regf::BaseBlockBytes);
    MakeBaseBlock(base.data(), sequence, sequence, type);
    base.resize(regf::LogSectorBytes);
    return base;
}

void Append(std::vector<BYTE>* to, const std::vector<BYTE>& bytes) {
    to->insert(to->end(), bytes.begin(), bytes.end());
}

// The 4 KiB pages of the hive bins data where Bins and `before` differ, as
// runs of contiguous pages.
std::vector<LogPage> ChangedPages(const std::vector<BYTE>& before) {
    std::vector<LogPage> pages;
    for (DWORD at = 0; at < BinsBytes; at += LogPageBytes) {
        if (memcmp(&Bins[at], &before[at], LogPageBytes) == 0) continue;
        if (!pages.empty() && pages.back().offset + pages.back().size == at) {
            pages.back().size += LogPageBytes;
        } else {
            pages.push_back({at, &Bins[at], LogPageBytes});
        }
    }
    return pages;
}

// The old format's log: its first sector, "DIRT" and one bit per 512-byte
// page, then, from the next sector, the pages whose bits are set.
std::vector<BYTE> OldLog(DWORD sequence, const std::vector<LogPage>& pages) {
    std::vector<BYTE> log = LogSector(sequence, regf::FileTypeLog);
    const size_t vector = log.size();
    log.resize(vector + regf::DirtyVectorHeaderBytes + BinsBytes / regf::OldLogPageBytes / 8);
    memcpy(&log[vector], "DIRT", 4);
    for (const LogPage& page : pages) {
        for (DWORD bit = page.offset / regf::OldLogPageBytes;
             bit < (page.offset + page.size) / regf::OldLogPageBytes; ++bit) {
            log[vector + regf::DirtyVectorHeaderBytes + bit / 8] |= static_cast<BYTE>(1 << bit % 8);
        }
    }
    log.resize((log.size() + regf::LogSectorBytes - 1) / regf::LogSectorBytes *
               regf::LogSectorBytes);
    for (const LogPage& page : pages) log.insert(log.end(), page.bytes, page.bytes + page.size);
    return log;
}

}  // namespace

std::vector<BYTE> NewLogEntry(DWORD sequence, DWORD binsBytes, const std::vector<LogPage>& pages) {
    DWORD size = regf::LogEntryHeaderBytes;
    for (const LogPage& page : pages) size += regf::LogPageReferenceBytes + page.size;
    size = (size + regf::LogEntryAlignment - 1) / regf::LogEntryAlignment * regf::LogEntryAlignment;
    std::vector<BYTE> entry(size);
    BYTE* at = entry.data();
    memcpy(at, "HvLE", 4);
    regf::WriteDword(at + regf::LogEntrySizeOffset, size);
    regf::WriteDword(at + regf::LogEntrySequenceOffset, sequence);
    regf::WriteDword(at + regf::LogEntryBinsSizeOffset, binsBytes);
    regf::WriteDword(at + regf::LogEntryPageCountOffset, static_cast<DWORD>(pages.size()));
    BYTE* reference = at + regf::LogEntryHeaderBytes;
    BYTE* data = reference + pages.size() * regf::LogPageReferenceBytes;
    for (const LogPage& page : pages) {
        regf::WriteDword(reference, page.offset);
        regf::WriteDword(reference + 4, page.size);
        reference += regf::LogPageReferenceBytes;
        memcpy(data, page.bytes, page.size);
        data += page.size;
    }
    const unsigned long long hash1 = Marvin32Hash(
        at + regf::LogEntryHeaderBytes, size - regf::LogEntryHeaderBytes, regf::LogEntryHashSeed);
    memcpy(at + regf::LogEntryHash1Offset, &hash1, 8);
    const unsigned long long hash2 =
        Marvin32Hash(at, regf::LogEntryHash2Offset, regf::LogEntryHashSeed);
    memcpy(at + regf::LogEntryHash2Offset, &hash2, 8);
    return entry;
}

bool WriteChangedHive(const wchar_t* path, DWORD changes) {
    if (changes > DwordValues.size() || changes / 10 > NamedKeys.size()) return false;
    for (DWORD change = 0; change < changes; ++change) {
        if (change % 10 == 9) {
            // A key renamed: one removed with what it holds, one added.
            const DWORD nk = NamedKeys[(change / 10) * (NamedKeys.size() / (changes / 10 + 1))];
            Bins[nk + regf::KeyName] = 'Z';
        } else {
            Bins[DwordValues[change * (DwordValues.size() / changes)] + 12] ^= 1;
        }
    }
    return WriteBins(path);
}

bool WriteRealisticHive(const wchar_t* path, unsigned mebibytes, DWORD keys, RealisticHive* made) {
    if (mebibytes > 0) {
        // A small hive of the same shape tells the bytes a key takes; the
        // count then grows while the file stays within the size.
        const size_t target = (static_cast<size_t>(mebibytes) << 20) - 4096;
        Make(2000);
        keys = static_cast<DWORD>(target / (Bins.size() / 2000)) * 9 / 10;
        DWORD step = keys / 100 + 1;
        for (Make(keys); Bins.size() <= target; Make(keys)) keys += step;
        keys -= step;
        Make(keys);
    } else {
        Make(keys);
    }
    BinsBytes = static_cast<DWORD>(Bins.size());
    // Windows grows a primary file in 256 KiB steps: slack follows the bins.
    const size_t length = (4096 + Bins.size() + 0x3FFFF) & ~static_cast<size_t>(0x3FFFF);
    Bins.resize(length - 4096);
    const bool ok = WriteBins(path);
    made->keys = static_cast<DWORD>(Keys.size());
    made->values = ValuesMade;
    made->binsBytes = BinsBytes;
    return ok;
}

bool WriteDirtyHive(const wchar_t* path, bool oldFormat, DWORD changes, const wchar_t* recovered) {
    if (changes < 4 || changes > DwordValues.size()) return false;
    const std::wstring primary = path;
    const std::vector<BYTE> clean = Bins;
    // Each entry carries the pages its share of the changes touched; an
    // old-format log carries every changed page at once.
    const DWORD first = 2, entries = oldFormat ? 1 : 4;
    std::vector<BYTE> logs[2];
    std::vector<BYTE> before = Bins;
    for (DWORD entry = 0; entry < entries; ++entry) {
        for (DWORD change = entry * changes / entries; change < (entry + 1) * changes / entries;
             ++change) {
            Bins[DwordValues[change * (DwordValues.size() / changes)] + regf::ValueData] ^= 1;
        }
        if (oldFormat) continue;
        std::vector<BYTE>& log = logs[entry < entries / 2 ? 0 : 1];
        if (log.empty()) log = LogSector(first + entry, regf::FileTypeLogNew);
        Append(&log, NewLogEntry(first + entry, BinsBytes, ChangedPages(before)));
        before = Bins;
    }
    if (oldFormat) logs[0] = OldLog(first + 1, ChangedPages(clean));
    const DWORD last = first + (oldFormat ? 1 : entries);
    bool ok = WriteBins(recovered, last, last);
    // The primary as it was, its sequence numbers one apart.
    Bins = clean;
    ok = ok && WriteBins(path, first + 1, first);
    ok = ok && WriteParts((primary + L".LOG1").c_str(), {{logs[0].data(), logs[0].size()}});
    return ok && WriteParts((primary + L".LOG2").c_str(), {{logs[1].data(), logs[1].size()}});
}
