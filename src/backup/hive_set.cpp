#include "backup/hive_set.h"

#include "backup/boot_store.h"
#include "backup/machine_hive.h"
#include "backup/redirection_guard.h"
#include "backup/user_hives.h"
#include "fs/secure_folder.h"
#include "report/hive_report.h"
#include "shared/location_text.h"
#include "shared/machine_hives.h"
#include "shared/path_join.h"
#include "state/run_state.h"

void StartBcdEdit() {
    wchar_t tool[SystemTextCapacity];
    if (!BuildPath(tool, ARRAYSIZE(tool), SystemDir, L"bcdedit.exe")) return;
    RunBcdEdit(tool);
}

void SaveBootStore(const wchar_t* folder, HiveTally* tally) {
    wchar_t keyName[SystemTextCapacity];
    wchar_t filePath[SystemTextCapacity];
    if (!FindBcdHive(keyName, filePath)) {
        // The lookup has no status of its own: the store is simply not there.
        // Before Vista no system has one, so its absence fails nothing.
        PrintHiveFailed(L"BCD", ERROR_FILE_NOT_FOUND);
        CountHive(tally, L"BCD", OsMajor < 6 ? HiveOutcome::None : HiveOutcome::Failed);
        return;
    }
    const bool saved = SaveMachineHive(folder, HKEY_LOCAL_MACHINE, L"BCD", keyName);
    CountHive(tally, L"BCD", saved ? HiveOutcome::Saved : HiveOutcome::Failed);

    // Written even when the save failed: it tells a restore where the store lives.
    wchar_t textPath[RootPathCapacity];
    if (!BuildPath(textPath, ARRAYSIZE(textPath), folder, L"bcd.txt")) return;
    WriteTextFile(textPath, filePath);
}

void BackupAllHives(const wchar_t* folder, LinkSources* links, HiveTally* tally) {
    // One guard for the whole pass, so under WOW64 bcdedit.exe, the CONFIG
    // fallbacks and the profile hives all see the real system directory.
    RedirectionGuard guard;

    CreateProtectedDirectory(folder);
    StartBcdEdit();
    SaveBootStore(folder, tally);

    for (const MachineHive& hive : MachineHives) {
        if (!HasMachineHive(hive, OsMajor, OsMinor)) continue;
        const bool saved = SaveMachineHive(folder, hive.root, hive.name, hive.subkey);
        CountHive(tally, hive.name, saved ? HiveOutcome::Saved : HiveOutcome::Failed);
    }

    BackupUserHives(folder, links, tally);
}
