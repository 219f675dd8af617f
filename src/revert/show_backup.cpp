#include "revert/show_backup.h"

#include <strsafe.h>
#include <wchar.h>

#include "revert/boot_store.h"
#include "revert/hive_choice.h"
#include "revert/restore_plan.h"
#include "shared/console.h"
#include "shared/location_text.h"
#include "shared/name_case.h"

namespace {

// The installation a backup in its Windows folder (zel's default) belongs
// to: the root the backup folder's path has before the Windows folder that
// sysdir.txt names ("D:" for D:\Windows\ZEL\2026-12-06), when the system
// folder is there.
bool FindInstallation(const wchar_t* backupFolder, wchar_t* root) {
    wchar_t text[JoinedPathCapacity];
    wchar_t location[JoinedPathCapacity];
    if (!BuildPath(text, ARRAYSIZE(text), backupFolder, L"sysdir.txt") ||
        ReadLocationText(text, location, ARRAYSIZE(location)) != ERROR_SUCCESS ||
        !IsContainedLocation(location)) {
        return false;
    }
    const size_t windows = static_cast<size_t>(wcsrchr(location, L'\\') - location);
    for (size_t at = wcslen(backupFolder); windows > 0 && at-- > 0;) {
        if (!SameName(backupFolder + at, location, windows) ||
            backupFolder[at + windows] != L'\\') {
            continue;
        }
        wchar_t system[JoinedPathCapacity];
        if (at == 0 || at >= JoinedPathCapacity) return false;
        StringCchCopyNW(root, JoinedPathCapacity, backupFolder, at);
        const DWORD attributes = BuildPath(system, ARRAYSIZE(system), root, location)
                                     ? GetFileAttributesW(system)
                                     : INVALID_FILE_ATTRIBUTES;
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    return false;
}

}  // namespace

int ShowBackup(RevertRun* run, const wchar_t* root, bool online) {
    wchar_t check[CheckWordsCapacity];
    wchar_t line[CheckWordsCapacity + 2 * JoinedPathCapacity];
    wchar_t installation[JoinedPathCapacity];
    const wchar_t* under = root;
    if (!root && FindInstallation(run->backupFolder, installation)) {
        FormatText(line, ARRAYSIZE(line), L"Windows root: %s (the backup lies in it)",
                   installation);
        PrintLine(line);
        under = installation;
    }
    bool whole = true;
    wchar_t bootStore[JoinedPathCapacity];
    if (run->hives.bootStore && FindBootStore(run->backupFolder, bootStore)) {
        bool dirty = false;
        whole = DescribeCheck(bootStore, check, &dirty) && whole;
        FormatText(line, ARRAYSIZE(line), L"BCD: %s; not replaced: bcdedit /import \"%s\"", check,
                   bootStore);
        PrintLine(line);
    }
    const PlanOutcome plan = PlanHives(run, under, PlanUse::Show);
    if (plan == PlanOutcome::HivesRefused && root) PrintRestCommand(*run, root, online);
    return whole && plan == PlanOutcome::Go ? ExitDone : ExitFailed;
}
