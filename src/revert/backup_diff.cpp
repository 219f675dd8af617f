#include "revert/backup_diff.h"

#include <string.h>
#include <wchar.h>

#include <algorithm>

#include "revert/backup_hives.h"
#include "shared/console.h"
#include "shared/exit_status.h"
#include "shared/heap_array.h"
#include "shared/name_case.h"

namespace {

constexpr DWORD MaxDepth = 513;
constexpr DWORD ChunkBytes = 65536;

struct Counts {
    DWORD keysAdded, keysRemoved, valuesAdded, valuesRemoved, valuesChanged, lonelyHives;
};

// The two sides of one comparison: this backup's hive and the other's.
struct Sides {
    Hive* mine;
    Hive* theirs;
};

// Names of one key's values or subkeys, upper-cased, sorted.
struct NameEntry {
    DWORD handle;
    DWORD at;  // in the pool
    DWORD length;
};
struct NameList {
    HeapArray<NameEntry> entries;
    TextBuffer pool;
};

// One comparison as it goes, owned by DiffBackups and handed to each step.
struct Comparison {
    Counts tally{};
    TextBuffer path;  // the key compared, in full
    TextBuffer line;
    BYTE mineChunk[ChunkBytes];
    BYTE theirChunk[ChunkBytes];
    // My values and theirs, for the key being compared; a key's values are
    // done with before its subkeys are.
    NameList values[2];
    // For each depth: my subkeys, their subkeys.
    NameList subkeys[MaxDepth][2];
    // The walk that counts a key's subkeys.
    HiveKey keys[MaxDepth];
    HiveSubkeyCursor cursors[MaxDepth];
};

bool Say(Comparison* diff, const wchar_t* mark, const wchar_t* tail, size_t tailLength) {
    TextBuffer& line = diff->line;
    line.Cut(0);
    if (!line.Append(mark, wcslen(mark)) || !line.Append(L" [", 2) ||
        !line.Append(diff->path.Text(), diff->path.Length()) || !line.Append(L"]", 1) ||
        !line.Append(tail, tailLength)) {
        return false;
    }
    PrintLine(line.Text());
    return true;
}

DWORD SayValue(Comparison* diff, const wchar_t* mark, Hive* hive, HiveValue value) {
    HiveValueInfo info{};
    TextBuffer name;
    DWORD error = HiveValueInfoOf(hive, value, &info);
    if (error == ERROR_SUCCESS) error = ReadValueName(hive, value, info.nameLength, &name);
    if (error != ERROR_SUCCESS) return error;
    TextBuffer tail;
    bool built = tail.Append(info.nameLength ? L" \"" : L" @", 2);
    for (size_t i = 0; built && i < name.Length(); ++i) {
        built = (name.Text()[i] != L'\\' && name.Text()[i] != L'"') || tail.Append(L"\\", 1);
        built = built && tail.Append(name.Text() + i, 1);
    }
    if (info.nameLength) built = built && tail.Append(L"\"", 1);
    return built && Say(diff, mark, tail.Text(), tail.Length()) ? ERROR_SUCCESS
                                                                : ERROR_NOT_ENOUGH_MEMORY;
}

bool AddName(NameList* list, DWORD handle, DWORD length, DWORD* at) {
    *at = static_cast<DWORD>(list->pool.Length());
    // Room for the name and its terminator, filled by the caller.
    return list->entries.Reserve(list->entries.size() + 1) && list->pool.Extend(length + 1) &&
           list->entries.Append(NameEntry{handle, *at, length});
}

void Fold(NameList* list, DWORD at, DWORD length) {
    wchar_t* name = list->pool.Data() + at;
    for (DWORD i = 0; i < length; ++i) name[i] = NameUpper(name[i]);
}

void Sort(NameList* list) {
    const wchar_t* pool = list->pool.Text();
    std::sort(list->entries.begin(), list->entries.end(),
              [pool](const NameEntry& a, const NameEntry& b) {
                  const int order = wmemcmp(pool + a.at, pool + b.at, std::min(a.length, b.length));
                  return order != 0 ? order < 0 : a.length < b.length;
              });
}

int Order(const NameList& a, DWORD i, const NameList& b, DWORD j) {
    const NameEntry& x = a.entries[i];
    const NameEntry& y = b.entries[j];
    const int order =
        wmemcmp(a.pool.Text() + x.at, b.pool.Text() + y.at, std::min(x.length, y.length));
    return order != 0 ? order : x.length < y.length ? -1 : x.length > y.length;
}

DWORD ListValues(Hive* hive, HiveKey key, NameList* list) {
    list->entries.Clear();
    list->pool.Cut(0);
    HiveKeyInfo info{};
    DWORD error = HiveKeyInfoOf(hive, key, &info);
    for (DWORD i = 0; error == ERROR_SUCCESS && i < info.values; ++i) {
        HiveValue value = 0;
        HiveValueInfo valueInfo{};
        DWORD at = 0;
        if ((error = HiveValueAt(hive, key, i, &value)) != ERROR_SUCCESS ||
            (error = HiveValueInfoOf(hive, value, &valueInfo)) != ERROR_SUCCESS) {
            break;
        }
        if (!AddName(list, value, valueInfo.nameLength, &at)) return ERROR_NOT_ENOUGH_MEMORY;
        error = HiveValueName(hive, value, list->pool.Data() + at, valueInfo.nameLength + 1);
        Fold(list, at, valueInfo.nameLength);
    }
    Sort(list);
    return error;
}

DWORD ListSubkeys(Hive* hive, HiveKey key, NameList* list) {
    list->entries.Clear();
    list->pool.Cut(0);
    HiveSubkeyCursor cursor{};
    HiveKey child = 0;
    DWORD error = ERROR_SUCCESS;
    while ((error = HiveNextSubkey(hive, key, &cursor, &child)) == ERROR_SUCCESS) {
        HiveKeyInfo info{};
        DWORD at = 0;
        if ((error = HiveKeyInfoOf(hive, child, &info)) != ERROR_SUCCESS) break;
        if (!AddName(list, child, info.nameLength, &at)) return ERROR_NOT_ENOUGH_MEMORY;
        if ((error = HiveKeyName(hive, child, list->pool.Data() + at, info.nameLength + 1)) !=
            ERROR_SUCCESS) {
            break;
        }
        Fold(list, at, info.nameLength);
    }
    Sort(list);
    return error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
}

DWORD SameData(Comparison* diff, const Sides& sides, HiveValue mine, HiveValue theirs, bool* same) {
    HiveValueInfo a{};
    HiveValueInfo b{};
    DWORD error = HiveValueInfoOf(sides.mine, mine, &a);
    if (error == ERROR_SUCCESS) error = HiveValueInfoOf(sides.theirs, theirs, &b);
    *same = error == ERROR_SUCCESS && a.type == b.type && a.dataSize == b.dataSize;
    for (DWORD offset = 0; *same && offset < a.dataSize; offset += ChunkBytes) {
        const DWORD count = a.dataSize - offset < ChunkBytes ? a.dataSize - offset : ChunkBytes;
        if ((error = HiveValueData(sides.mine, mine, offset, diff->mineChunk, count)) !=
                ERROR_SUCCESS ||
            (error = HiveValueData(sides.theirs, theirs, offset, diff->theirChunk, count)) !=
                ERROR_SUCCESS) {
            *same = false;
            break;
        }
        *same = memcmp(diff->mineChunk, diff->theirChunk, count) == 0;
    }
    return error;
}

DWORD CountSubkeys(Comparison* diff, Hive* hive, HiveKey key, DWORD* count) {
    HiveKey* keys = diff->keys;
    HiveSubkeyCursor* cursors = diff->cursors;
    DWORD depth = 1;
    keys[0] = key;
    cursors[0] = HiveSubkeyCursor{};
    *count = 0;
    while (depth > 0) {
        HiveKey child = 0;
        const DWORD error = HiveNextSubkey(hive, keys[depth - 1], &cursors[depth - 1], &child);
        if (error == ERROR_NO_MORE_ITEMS) {
            --depth;
            continue;
        }
        if (error != ERROR_SUCCESS) return error;
        if (depth == MaxDepth) return ERROR_BADDB;
        ++*count;
        keys[depth] = child;
        cursors[depth++] = HiveSubkeyCursor{};
    }
    return ERROR_SUCCESS;
}

// "+ [KEY]" or "- [KEY]" for a key on one side only, the path naming it.
DWORD SayKey(Comparison* diff, const wchar_t* mark, Hive* hive, HiveKey key, DWORD* tally) {
    DWORD subkeys = 0;
    const DWORD error = CountSubkeys(diff, hive, key, &subkeys);
    if (error != ERROR_SUCCESS) return error;
    wchar_t tail[48] = L"";
    if (subkeys > 0) {
        FormatText(tail, ARRAYSIZE(tail), L" (%lu subkey%s)", subkeys, subkeys == 1 ? L"" : L"s");
    }
    *tally += 1 + subkeys;
    return Say(diff, mark, tail, wcslen(tail)) ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

DWORD CompareValues(Comparison* diff, const Sides& sides, HiveKey mine, HiveKey theirs) {
    NameList& a = diff->values[0];
    NameList& b = diff->values[1];
    DWORD error = ListValues(sides.mine, mine, &a);
    if (error == ERROR_SUCCESS) error = ListValues(sides.theirs, theirs, &b);
    for (DWORD i = 0, j = 0;
         error == ERROR_SUCCESS && (i < a.entries.size() || j < b.entries.size());) {
        const int order = i == a.entries.size()   ? 1
                          : j == b.entries.size() ? -1
                                                  : Order(a, i, b, j);
        if (order < 0) {
            error = SayValue(diff, L"+", sides.mine, a.entries[i++].handle);
            ++diff->tally.valuesAdded;
        } else if (order > 0) {
            error = SayValue(diff, L"-", sides.theirs, b.entries[j++].handle);
            ++diff->tally.valuesRemoved;
        } else {
            bool same = false;
            error = SameData(diff, sides, a.entries[i].handle, b.entries[j].handle, &same);
            if (error == ERROR_SUCCESS && !same) {
                error = SayValue(diff, L"~", sides.mine, a.entries[i].handle);
                ++diff->tally.valuesChanged;
            }
            ++i;
            ++j;
        }
    }
    return error;
}

DWORD CompareKeys(Comparison* diff, const Sides& sides, HiveKey mine, HiveKey theirs, DWORD depth) {
    if (depth == MaxDepth) return ERROR_BADDB;
    DWORD error = CompareValues(diff, sides, mine, theirs);
    NameList& a = diff->subkeys[depth][0];
    NameList& b = diff->subkeys[depth][1];
    TextBuffer& path = diff->path;
    if (error == ERROR_SUCCESS) error = ListSubkeys(sides.mine, mine, &a);
    if (error == ERROR_SUCCESS) error = ListSubkeys(sides.theirs, theirs, &b);
    const size_t length = path.Length();
    for (DWORD i = 0, j = 0;
         error == ERROR_SUCCESS && (i < a.entries.size() || j < b.entries.size());) {
        const int order = i == a.entries.size()   ? 1
                          : j == b.entries.size() ? -1
                                                  : Order(a, i, b, j);
        Hive* hive = order > 0 ? sides.theirs : sides.mine;
        const DWORD key = order > 0 ? b.entries[j].handle : a.entries[i].handle;
        error = AppendKeyName(hive, key, &path);
        if (error == ERROR_SUCCESS && order < 0) {
            error = SayKey(diff, L"+", hive, key, &diff->tally.keysAdded);
        } else if (error == ERROR_SUCCESS && order > 0) {
            error = SayKey(diff, L"-", hive, key, &diff->tally.keysRemoved);
        } else if (error == ERROR_SUCCESS) {
            error = CompareKeys(diff, sides, key, b.entries[j].handle, depth + 1);
        }
        path.Cut(length);
        i += order <= 0;
        j += order >= 0;
    }
    return error;
}

struct DiffHive {
    wchar_t label[JoinedPathCapacity];
    wchar_t hiveKey[JoinedPathCapacity];
};

// Key names in order, name by name: a backslash comes before any character.
int CompareKeyNames(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        const wchar_t x = *a == L'\\' ? 1 : NameUpper(*a);
        const wchar_t y = *b == L'\\' ? 1 : NameUpper(*b);
        if (x != y || x == 0) return x < y ? -1 : x > y;
    }
}

// Each hive either backup holds, once; with a key, only the key's hive, by
// the key's own spelling.
bool AddHives(HeapArray<DiffHive>* set, const HiveTable& list, const KeyInBackup* key) {
    for (const BackupHive& listed : list.items) {
        if (key && !SameName(listed.label, key->label)) continue;
        DiffHive hive;
        const wchar_t* label = key ? key->label : listed.label;
        if (!HiveKeyOfLabel(label, hive.hiveKey) ||
            !CopyWhole(hive.label, ARRAYSIZE(hive.label), label)) {
            continue;
        }
        bool known = false;
        for (const DiffHive& each : *set) known = known || SameName(each.label, label);
        if (!known && !set->Append(hive)) return false;
    }
    return true;
}

// One hive both backups hold: the whole of it, or the key.
bool CompareHive(Comparison* diff, const DiffHive& hive, const wchar_t* folder,
                 const wchar_t* other, const KeyInBackup* key, bool* keySeen) {
    HiveHandle mine;
    HiveHandle theirs;
    TextBuffer& path = diff->path;
    DWORD error = OpenBackupHive(folder, hive.label, true, &mine);
    const DWORD otherError = OpenBackupHive(other, hive.label, true, &theirs);
    if (error != ERROR_SUCCESS || otherError != ERROR_SUCCESS) return false;
    const Sides sides{mine.get(), theirs.get()};
    HiveKey a = 0;
    HiveKey b = 0;
    KeyInBackup whole{};
    CopyWhole(whole.hiveKey, ARRAYSIZE(whole.hiveKey), hive.hiveKey);
    CopyWhole(whole.label, ARRAYSIZE(whole.label), hive.label);
    whole.below = L"";
    const KeyInBackup& wanted = key ? *key : whole;
    error = FindKeyInHive(sides.mine, wanted, &a, &path);
    TextBuffer theirPath;
    DWORD theirError = FindKeyInHive(sides.theirs, wanted, &b, &theirPath);
    if (error == ERROR_FILE_NOT_FOUND && theirError == ERROR_SUCCESS) {
        *keySeen = true;
        path.Cut(0);
        error = path.Append(theirPath.Text(), theirPath.Length())
                    ? SayKey(diff, L"-", sides.theirs, b, &diff->tally.keysRemoved)
                    : ERROR_NOT_ENOUGH_MEMORY;
    } else if (error == ERROR_SUCCESS && theirError == ERROR_FILE_NOT_FOUND) {
        *keySeen = true;
        error = SayKey(diff, L"+", sides.mine, a, &diff->tally.keysAdded);
    } else if (error == ERROR_SUCCESS && theirError == ERROR_SUCCESS) {
        *keySeen = true;
        error = CompareKeys(diff, sides, a, b, 0);
    } else if (error == ERROR_FILE_NOT_FOUND && theirError == ERROR_FILE_NOT_FOUND) {
        error = ERROR_SUCCESS;
    } else if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) {
        error = theirError;
    }
    if (error == ERROR_SUCCESS) return true;
    wchar_t line[JoinedPathCapacity + 32];
    FormatText(line, ARRAYSIZE(line), L"(!) Unable to compare %s", hive.label);
    PrintError(error, line);
    return false;
}

}  // namespace

int DiffBackups(const wchar_t* folder, const wchar_t* other, const KeyInBackup* key) {
    wchar_t line[2 * JoinedPathCapacity];
    FormatText(line, ARRAYSIZE(line), L"Compared with: %s", other);
    PrintLine(line);
    HiveTable mineListed;
    HiveTable theirsListed;
    if (!FindBackupHives(folder, BootStore::Listed, &mineListed) ||
        !FindBackupHives(other, BootStore::Listed, &theirsListed)) {
        return ExitFailed;
    }
    HeapArray<DiffHive> set;
    if (!AddHives(&set, mineListed, key) || !AddHives(&set, theirsListed, key)) {
        PrintError(ERROR_NOT_ENOUGH_MEMORY, L"(!) Unable to list the hives");
        return ExitFailed;
    }
    std::sort(set.begin(), set.end(), [](const DiffHive& a, const DiffHive& b) {
        return CompareKeyNames(a.hiveKey, b.hiveKey) < 0;
    });
    // Larger than the rest of the frame, but far within the stack.
    Comparison diff;
    bool whole = true;
    bool keySeen = false;
    for (const DiffHive& hive : set) {
        wchar_t path[JoinedPathCapacity];
        const bool mine = BuildPath(path, ARRAYSIZE(path), folder, hive.label) && IsFile(path);
        const bool theirs = BuildPath(path, ARRAYSIZE(path), other, hive.label) && IsFile(path);
        if (mine && theirs) {
            whole = CompareHive(&diff, hive, folder, other, key, &keySeen) && whole;
            continue;
        }
        diff.path.Cut(0);
        FormatText(line, ARRAYSIZE(line), L" (hive %s only in %s)", hive.label,
                   mine ? L"this backup" : L"the other backup");
        if (!diff.path.Append(hive.hiveKey, wcslen(hive.hiveKey)) ||
            !Say(&diff, mine ? L"+" : L"-", line, wcslen(line))) {
            whole = false;
        }
        ++diff.tally.lonelyHives;
        keySeen = true;
    }
    if (key && !keySeen && whole) {
        FormatText(line, ARRAYSIZE(line), L"(!) %s\\%.*s is in neither backup", key->hiveKey,
                   static_cast<int>(key->belowLength), key->below);
        PrintLine(line);
        whole = false;
    }
    FormatText(line, ARRAYSIZE(line),
               L"Keys added: %lu, removed: %lu; values added: %lu, removed: %lu, changed: %lu; "
               L"hives in one backup only: %lu",
               diff.tally.keysAdded, diff.tally.keysRemoved, diff.tally.valuesAdded,
               diff.tally.valuesRemoved, diff.tally.valuesChanged, diff.tally.lonelyHives);
    PrintLine(line);
    return whole ? ExitDone : ExitFailed;
}
