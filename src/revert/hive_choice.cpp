#include "revert/hive_choice.h"

#include <strsafe.h>
#include <wchar.h>

#include "revert/boot_store.h"
#include "revert/run_state.h"
#include "revert/text_buffer.h"
#include "shared/console.h"
#include "shared/machine_hives.h"
#include "shared/name_case.h"

namespace {

// A SID of 15 sub-authorities of ten digits stays under this.
constexpr size_t NameCapacity = 192;
// The longest command line CreateProcessW takes.
constexpr size_t CommandLineLimit = 32767;

bool IsMachineName(const wchar_t* name) {
    if (SameName(name, L"BCD")) return true;
    for (const MachineHive& machine : MachineHives) {
        if (SameName(name, machine.name)) return true;
    }
    return false;
}

// "S-1-" and digits and dashes, as Windows writes a SID.
bool IsSidName(const wchar_t* name) {
    if (!SameName(name, L"S-1-", 4) || name[4] == L'\0') return false;
    for (const wchar_t* c = name + 4; *c; ++c) {
        if ((*c < L'0' || *c > L'9') && *c != L'-') return false;
    }
    return true;
}

// A profile hive's label is "<SID>\<file>".
size_t ProfileLength(const BackupHive& hive) {
    return static_cast<size_t>(FinalName(hive.label) - hive.label) - 1;
}

bool NamesHive(const wchar_t* name, const BackupHive& hive) {
    if (hive.machine) return SameName(name, L"machine") || SameName(name, hive.label);
    const size_t length = ProfileLength(hive);
    return SameName(name, L"users") ||
           (wcslen(name) == length && SameName(name, hive.label, length));
}

// Marks what one name stands for; false when the backup holds none of it.
bool ChooseOne(const wchar_t* name, bool bootStoreHeld, HiveTable* list) {
    bool found = false;
    if (bootStoreHeld && (SameName(name, L"BCD") || SameName(name, L"machine"))) {
        list->bootStore = true;
        found = true;
    }
    for (size_t i = 0; i < list->items.size(); ++i) {
        if (!NamesHive(name, list->items[i])) continue;
        list->items[i].chosen = true;
        found = true;
    }
    return found;
}

bool RefuseName(const wchar_t* format, const wchar_t* name) {
    wchar_t line[NameCapacity + 256];
    FormatText(line, ARRAYSIZE(line), format, name);
    PrintLine(line);
    return false;
}

// Text that grows on the heap; `whole` turns false when memory runs out.
struct Text {
    TextBuffer units;
    bool whole = true;
};

void Add(Text* text, const wchar_t* part) {
    text->whole = text->whole && text->units.Append(part, wcslen(part));
}

// In quotes as a command line gives it back: backslashes before the closing
// quote are doubled, or they would make it a quote of the text.
void AddQuoted(Text* text, const wchar_t* path) {
    Add(text, L"\"");
    Add(text, path);
    for (size_t n = wcslen(path); n > 0 && path[n - 1] == L'\\'; --n) Add(text, L"\\");
    Add(text, L"\"");
}

void AddName(Text* text, const wchar_t* name, const wchar_t* separator, bool* any) {
    if (*any) Add(text, separator);
    Add(text, name);
    *any = true;
}

// The chosen parts whose refusal is `refused`, each once: a machine hive by
// its name, a profile by its SID, refused when one of its hives is; "machine"
// and "users" where every one of theirs is among them.
bool AddParts(Text* text, const RevertRun& run, bool refused, const wchar_t* separator) {
    const HiveTable& list = run.hives;
    wchar_t path[JoinedPathCapacity];
    const bool bootStoreHeld = FindBootStore(run.backupFolder, path);
    const bool bootStore = list.bootStore && bootStoreHeld;
    size_t machines = bootStoreHeld ? 1 : 0, machinesTaken = bootStore ? 1 : 0;
    size_t profileHives = 0, profileHivesTaken = 0;
    for (size_t i = 0; i < list.items.size(); ++i) {
        const bool taken = list.items[i].chosen && !list.items[i].refused;
        if (list.items[i].machine) {
            ++machines;
            machinesTaken += taken ? 1 : 0;
        } else {
            ++profileHives;
            profileHivesTaken += taken ? 1 : 0;
        }
    }
    const bool allMachine = !refused && machines > 0 && machinesTaken == machines;
    const bool allUsers = !refused && profileHives > 0 && profileHivesTaken == profileHives;
    bool any = false;
    if (allMachine) AddName(text, L"machine", separator, &any);
    if (bootStore && !refused && !allMachine) AddName(text, L"BCD", separator, &any);
    for (size_t i = 0; i < list.items.size();) {
        const BackupHive& hive = list.items[i];
        size_t end = i + 1;
        bool chosen = hive.chosen, partRefused = hive.chosen && hive.refused;
        if (!hive.machine) {
            const size_t length = ProfileLength(hive);
            for (; end < list.items.size() && !list.items[end].machine &&
                   ProfileLength(list.items[end]) == length &&
                   SameName(list.items[end].label, hive.label, length);
                 ++end) {
                chosen = chosen || list.items[end].chosen;
                partRefused = partRefused || (list.items[end].chosen && list.items[end].refused);
            }
        }
        i = end;
        if (!chosen || partRefused != refused || (hive.machine ? allMachine : allUsers)) continue;
        wchar_t name[JoinedPathCapacity];
        StringCchCopyNW(name, ARRAYSIZE(name), hive.label,
                        hive.machine ? ARRAYSIZE(name) : ProfileLength(hive));
        AddName(text, name, separator, &any);
    }
    if (allUsers) AddName(text, L"users", separator, &any);
    return any;
}

void PrintText(Text* text) {
    if (text->whole) {
        PrintLine(text->units.Text());
    } else {
        PrintError(ERROR_NOT_ENOUGH_MEMORY, L"(!) Unable to show the command for the rest");
    }
}

}  // namespace

bool ChooseHives(const wchar_t* names, const wchar_t* backupFolder, HiveTable* list) {
    wchar_t path[JoinedPathCapacity];
    const bool bootStoreHeld = FindBootStore(backupFolder, path);
    list->bootStore = false;
    for (size_t i = 0; i < list->items.size(); ++i) list->items[i].chosen = false;
    bool whole = true;
    for (const wchar_t* next = names;;) {
        const wchar_t* comma = wcschr(next, L',');
        const size_t length = comma ? static_cast<size_t>(comma - next) : wcslen(next);
        wchar_t name[NameCapacity];
        if (length == 0) {
            PrintLine(L"(!) /only: a name is missing in the list (two commas, or one at an end)");
            whole = false;
        } else if (length >= ARRAYSIZE(name)) {
            PrintLine(L"(!) /only: a name longer than 191 characters is no hive name");
            whole = false;
        } else {
            StringCchCopyNW(name, ARRAYSIZE(name), next, length);
            for (wchar_t* c = name; *c; ++c) {
                if (*c < 0x20) *c = L'?';  // shown on the console as it is, save what breaks it
            }
            if (!IsMachineName(name) && !SameName(name, L"machine") && !SameName(name, L"users") &&
                !IsSidName(name)) {
                whole = RefuseName(
                            L"(!) /only: %s is no hive name; give BCD, SYSTEM, SOFTWARE, "
                            L"DEFAULT, SAM, SECURITY, DRIVERS, COMPONENTS, machine, users "
                            L"or a profile's SID",
                            name) &&
                        whole;
            } else if (!ChooseOne(name, bootStoreHeld, list)) {
                whole = RefuseName(L"(!) /only: the backup holds no %s", name) && whole;
            }
        }
        if (!comma) break;
        next = comma + 1;
    }
    return whole;
}

void PrintRestCommand(const RevertRun& run, const wchar_t* root, bool online) {
    Text refused;
    Add(&refused, L"(!) Not restored with the rest: ");
    if (!AddParts(&refused, run, true, L", ")) return;
    PrintText(&refused);
    Text rest;
    Add(&rest, L"/only:");
    if (!AddParts(&rest, run, false, L",")) return;
    wchar_t program[RootPathCapacity];
    const DWORD length = GetModuleFileNameW(nullptr, program, ARRAYSIZE(program));
    if (length == 0 || length >= ARRAYSIZE(program)) return;
    Text line;
    Add(&line, L"To restore the rest: ");
    AddQuoted(&line, program);
    Add(&line, L" ");
    AddQuoted(&line, run.backupFolder);
    if (online) {
        Add(&line, L" /online ");
    } else {
        Add(&line, L" /offline:");
        AddQuoted(&line, root);
        Add(&line, L" ");
    }
    if (rest.whole) Add(&line, rest.units.Text());
    line.whole = line.whole && rest.whole;
    if (line.units.Length() > CommandLineLimit) {
        PrintLine(
            L"(!) The rest is too long for one command line: restore it in parts with /only:");
        return;
    }
    PrintText(&line);
}
