#include "revert/key_path.h"

#include <stdio.h>
#include <strsafe.h>
#include <wchar.h>

#include "hive/hive_check.h"
#include "revert/backup_hives.h"
#include "shared/console.h"
#include "shared/machine_hives.h"
#include "shared/name_case.h"

namespace {

constexpr const wchar_t* Machine = L"HKEY_LOCAL_MACHINE";
constexpr const wchar_t* Users = L"HKEY_USERS";
constexpr const wchar_t* BootStoreKey = L"BCD00000000";
constexpr const wchar_t* ClassesSuffix = L"_Classes";

// The first name of text, up to a backslash or its end.
size_t FirstName(const wchar_t* text) { return wcscspn(text, L"\\"); }

bool Is(const wchar_t* text, size_t length, const wchar_t* word) {
    return wcslen(word) == length && SameName(text, word, length);
}

// "S-1-" and then digits and dashes.
bool IsSid(const wchar_t* text, size_t length) {
    if (length <= 4 || !SameName(text, L"S-1-", 4)) return false;
    for (size_t i = 4; i < length; ++i) {
        if (!(text[i] >= L'0' && text[i] <= L'9') && text[i] != L'-') return false;
    }
    return true;
}

bool Fill(KeyInBackup* key, const wchar_t* label, const wchar_t* root, const wchar_t* name,
          size_t length) {
    return SUCCEEDED(StringCchCopyW(key->label, ARRAYSIZE(key->label), label)) &&
           SUCCEEDED(StringCchPrintfW(key->hiveKey, ARRAYSIZE(key->hiveKey), L"%s\\%.*s", root,
                                      static_cast<int>(length), name));
}

// A hive under HKEY_USERS: .DEFAULT, a SID, or a SID's _Classes.
bool ReadUserHive(const wchar_t* name, size_t length, KeyInBackup* key) {
    if (Is(name, length, L".DEFAULT")) return Fill(key, L"DEFAULT", Users, L".DEFAULT", 8);
    const size_t suffix = wcslen(ClassesSuffix);
    const bool classes = length > suffix && SameName(name + length - suffix, ClassesSuffix, suffix);
    const size_t sid = classes ? length - suffix : length;
    if (!IsSid(name, sid)) return false;
    wchar_t label[JoinedPathCapacity];
    wchar_t hive[JoinedPathCapacity];
    // Folders are named S-1-..., whatever case the key was typed in.
    return SUCCEEDED(StringCchPrintfW(label, ARRAYSIZE(label), L"S%.*s\\%s",
                                      static_cast<int>(sid - 1), name + 1,
                                      classes ? L"UsrClass.dat" : L"NTUSER.DAT")) &&
           SUCCEEDED(StringCchPrintfW(hive, ARRAYSIZE(hive), L"S%.*s%s", static_cast<int>(sid - 1),
                                      name + 1, classes ? ClassesSuffix : L"")) &&
           Fill(key, label, Users, hive, wcslen(hive));
}

bool ReadMachineHive(const wchar_t* name, size_t length, KeyInBackup* key) {
    if (Is(name, length, BootStoreKey)) return Fill(key, L"BCD", Machine, BootStoreKey, 11);
    for (const MachineHive& hive : MachineHives) {
        if (hive.root == HKEY_LOCAL_MACHINE && Is(name, length, hive.subkey)) {
            return Fill(key, hive.name, Machine, hive.subkey, wcslen(hive.subkey));
        }
    }
    return false;
}

// The control set that SYSTEM's Select\Current names, as "ControlSet00N".
DWORD CurrentControlSet(Hive* hive, HiveKey root, wchar_t* name, size_t capacity) {
    HiveKey select = 0;
    DWORD error = HiveFindSubkey(hive, root, L"Select", &select);
    HiveKeyInfo info{};
    if (error == ERROR_SUCCESS) error = HiveKeyInfoOf(hive, select, &info);
    for (DWORD i = 0; error == ERROR_SUCCESS && i < info.values; ++i) {
        HiveValue value = 0;
        HiveValueInfo valueInfo{};
        wchar_t valueName[8];
        if ((error = HiveValueAt(hive, select, i, &value)) != ERROR_SUCCESS ||
            (error = HiveValueInfoOf(hive, value, &valueInfo)) != ERROR_SUCCESS) {
            break;
        }
        if (valueInfo.nameLength != 7 || valueInfo.type != REG_DWORD || valueInfo.dataSize != 4 ||
            HiveValueName(hive, value, valueName, ARRAYSIZE(valueName)) != ERROR_SUCCESS ||
            !SameName(valueName, L"Current")) {
            continue;
        }
        DWORD current = 0;
        error = HiveValueData(hive, value, 0, reinterpret_cast<BYTE*>(&current), 4);
        if (error == ERROR_SUCCESS && current >= 1000) error = ERROR_FILE_NOT_FOUND;
        if (error == ERROR_SUCCESS) StringCchPrintfW(name, capacity, L"ControlSet%03lu", current);
        return error;
    }
    return error == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : error;
}

}  // namespace

DWORD ReadKeyPath(const wchar_t* given, KeyInBackup* key) {
    const size_t rootLength = FirstName(given);
    const bool machine = Is(given, rootLength, L"HKLM") || Is(given, rootLength, Machine);
    if (!machine && !Is(given, rootLength, L"HKU") && !Is(given, rootLength, Users)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (given[rootLength] != L'\\') return ERROR_INVALID_PARAMETER;
    const wchar_t* hive = given + rootLength + 1;
    const size_t hiveLength = FirstName(hive);
    if (!(machine ? ReadMachineHive(hive, hiveLength, key) : ReadUserHive(hive, hiveLength, key))) {
        return ERROR_INVALID_PARAMETER;
    }
    key->below = hive + hiveLength + (hive[hiveLength] == L'\\');
    key->belowLength = wcslen(key->below);
    // One backslash may end the key, as reg.exe allows.
    if (key->belowLength > 0 && key->below[key->belowLength - 1] == L'\\') --key->belowLength;
    for (size_t at = 0; at <= key->belowLength && key->belowLength > 0;) {
        const size_t length = FirstName(key->below + at);
        if (length == 0) return ERROR_INVALID_PARAMETER;
        at += length + 1;
    }
    return ERROR_SUCCESS;
}

bool HiveKeyOfLabel(const wchar_t* label, wchar_t* hiveKey) {
    KeyInBackup key;
    const size_t sid = FirstName(label);
    bool found = false;
    if (label[sid] == L'\0') {
        found = SameName(label, L"DEFAULT") ? ReadUserHive(L".DEFAULT", 8, &key)
                : SameName(label, L"BCD")   ? ReadMachineHive(BootStoreKey, 11, &key)
                                            : ReadMachineHive(label, sid, &key);
    } else if (SameName(label + sid, L"\\NTUSER.DAT")) {
        found = ReadUserHive(label, sid, &key);
    } else if (SameName(label + sid, L"\\UsrClass.dat")) {
        wchar_t classes[JoinedPathCapacity];
        found = SUCCEEDED(StringCchPrintfW(classes, ARRAYSIZE(classes), L"%.*s%s",
                                           static_cast<int>(sid), label, ClassesSuffix)) &&
                ReadUserHive(classes, wcslen(classes), &key);
    }
    return found && CopyWhole(hiveKey, JoinedPathCapacity, key.hiveKey);
}

DWORD AppendKeyName(Hive* hive, HiveKey key, TextBuffer* text) {
    HiveKeyInfo info;
    DWORD error = HiveKeyInfoOf(hive, key, &info);
    if (error != ERROR_SUCCESS) return error;
    const size_t start = text->Length();
    wchar_t* room = start > 0 && !text->Append(L"\\", 1) ? nullptr : text->Extend(info.nameLength);
    error = room ? HiveKeyName(hive, key, room, info.nameLength + 1) : ERROR_NOT_ENOUGH_MEMORY;
    if (error != ERROR_SUCCESS) text->Cut(start);
    return error;
}

DWORD ReadValueName(Hive* hive, HiveValue value, DWORD length, TextBuffer* text) {
    text->Cut(0);
    wchar_t* room = text->Extend(length);
    const DWORD error =
        room ? HiveValueName(hive, value, room, length + 1) : ERROR_NOT_ENOUGH_MEMORY;
    if (error != ERROR_SUCCESS) text->Cut(0);
    return error;
}

DWORD FindKeyInHive(Hive* hive, const KeyInBackup& key, HiveKey* found, TextBuffer* name) {
    name->Cut(0);
    DWORD error = HiveRoot(hive, found);
    if (error != ERROR_SUCCESS) return error;
    if (!name->Append(key.hiveKey, wcslen(key.hiveKey))) return ERROR_NOT_ENOUGH_MEMORY;
    TextBuffer wanted;
    if (!wanted.Append(key.below, key.belowLength)) return ERROR_NOT_ENOUGH_MEMORY;
    const bool system = SameName(key.label, L"SYSTEM");
    for (size_t at = 0; at < wanted.Length();) {
        wchar_t* part = wanted.Data() + at;
        const size_t length = FirstName(part);
        part[length] = L'\0';
        HiveKey below = 0;
        error = HiveFindSubkey(hive, *found, part, &below);
        wchar_t controlSet[16];
        const bool current = error == ERROR_FILE_NOT_FOUND && system && at == 0 &&
                             SameName(part, L"CurrentControlSet");
        if (current && (error = CurrentControlSet(hive, *found, controlSet,
                                                  ARRAYSIZE(controlSet))) == ERROR_SUCCESS) {
            error = HiveFindSubkey(hive, *found, controlSet, &below);
        }
        if (error != ERROR_SUCCESS) return error;
        if (current) {
            // Keys written under it go back into the set the system runs.
            if (!name->Append(L"\\CurrentControlSet", 18)) return ERROR_NOT_ENOUGH_MEMORY;
        } else if ((error = AppendKeyName(hive, below, name)) != ERROR_SUCCESS) {
            return error;
        }
        *found = below;
        at += length + 1;
    }
    return ERROR_SUCCESS;
}

DWORD OpenBackupHive(const wchar_t* folder, const wchar_t* label, bool named, HiveHandle* hive) {
    wchar_t path[JoinedPathCapacity];
    wchar_t line[JoinedPathCapacity + HiveProblemCapacity + 64];
    if (!BuildPath(path, ARRAYSIZE(path), folder, label)) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to read %s in %s", label, folder);
        PrintError(ERROR_FILENAME_EXCED_RANGE, line);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (!IsFile(path)) return ERROR_FILE_NOT_FOUND;
    HiveCheckResult result{};
    DWORD error = HiveOpen(path, hive->put());
    if (error == ERROR_SUCCESS) error = CheckHive(hive->get(), &result);
    if (error != ERROR_SUCCESS) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to read %s", path);
        PrintError(error, line);
    } else if (!result.passed) {
        if (named) {
            FormatText(line, ARRAYSIZE(line), L"(!) %s in %s failed its check: %s", label, folder,
                       result.problem);
        } else {
            FormatText(line, ARRAYSIZE(line), L"(!) %s failed its check: %s", label,
                       result.problem);
        }
        PrintLine(line);
        error = ERROR_BADDB;
    } else if (result.textFormat) {
        // It passed for the platform's own save; there is no key tree to read in it.
        if (named) {
            FormatText(line, ARRAYSIZE(line), L"(!) %s in %s is Wine's text save, not a regf hive",
                       label, folder);
        } else {
            FormatText(line, ARRAYSIZE(line), L"(!) %s is Wine's text save, not a regf hive",
                       label);
        }
        PrintLine(line);
        error = ERROR_BADDB;
    } else if (result.dirty) {
        // Read as Windows loads it; a reader should know which state that is.
        wchar_t logs[HiveProblemCapacity];
        if (result.needsLogs) {
            DescribeLogs(result, logs, ARRAYSIZE(logs));
        } else {
            FormatText(logs, ARRAYSIZE(logs), L"without its logs, dirty (%s)", result.logsNote);
        }
        if (named) {
            FormatText(line, ARRAYSIZE(line), L"%s in %s read %s", label, folder, logs);
        } else {
            FormatText(line, ARRAYSIZE(line), L"%s read %s", label, logs);
        }
        PrintLine(line);
    }
    if (error != ERROR_SUCCESS) hive->reset();
    return error;
}
