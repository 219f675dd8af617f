#include "backup/hive_set.h"

#include "backup/boot_store.h"
#include "backup/machine_hive.h"
#include "backup/redirection_guard.h"
#include "backup/run_steps.h"
#include "backup/user_hives.h"
#include "fs/secure_folder.h"
#include "report/hive_report.h"
#include "shared/console.h"
#include "shared/location_text.h"
#include "shared/machine_hives.h"
#include "shared/path_join.h"
#include "state/run_state.h"

namespace {

void StartBcdEdit() {
    wchar_t tool[SystemTextCapacity];
    if (!BuildPath(tool, ARRAYSIZE(tool), SystemDir, L"bcdedit.exe")) return;
    RunBcdEdit(tool);
}

void SaveBootStore() {
    wchar_t keyName[SystemTextCapacity];
    wchar_t filePath[SystemTextCapacity];
    if (!FindBcdHive(keyName, filePath)) {
        // The lookup has no status of its own: the store is simply not there.
        // Before Vista no system has one, so its absence fails nothing.
        if (OsMajor < 6) {
            PrintUncountedFailure(L"BCD", ERROR_FILE_NOT_FOUND);
        } else {
            PrintHiveFailed(L"BCD", ERROR_FILE_NOT_FOUND);
        }
        return;
    }
    SaveMachineHive(HKEY_LOCAL_MACHINE, L"BCD", keyName);

    // Written even when the save failed: it tells a restore where the store lives.
    wchar_t textPath[RootPathCapacity];
    if (!BuildPath(textPath, ARRAYSIZE(textPath), BackupRoot, L"bcd.txt")) return;
    WriteTextFile(textPath, filePath);
}

}  // namespace

void BackupAllHives() {
    // One guard for the whole pass, so under WOW64 bcdedit.exe, the CONFIG
    // fallbacks and the profile hives all see the real system directory.
    RedirectionGuard guard;

    CreateProtectedDirectory(BackupRoot);
    BeginRunStep(L"bcdedit.exe start");
    StartBcdEdit();
    BeginRunStep(L"boot store");
    SaveBootStore();

    for (const MachineHive& hive : MachineHives) {
        if (!HasMachineHive(hive, OsMajor, OsMinor)) continue;
        BeginRunStep(hive.name);
        SaveMachineHive(hive.root, hive.name, hive.subkey);
    }

    BeginRunStep(L"profile hives");
    BackupUserHives();
}
