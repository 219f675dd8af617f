#include "tidy/offline_road.h"

#include "shared/console.h"
#include "shared/kept_files.h"
#include "shared/machine_hives.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "tidy/hive_file.h"
#include "tidy/packed_copy.h"
#include "tidy/packing_report.h"
#include "tidy/run_state.h"
#include "tidy/scratch_hive.h"

namespace {

// Loads hive under the scratch key, saves it packed to work and unloads it.
// False, with the failure reported and no work file, when any step failed.
bool SaveThroughScratchKey(const wchar_t* name, const wchar_t* hive, const wchar_t* work) {
    const DWORD format = FormatToKeep(hive);
    ScratchHive scratch;
    const wchar_t* step = L"loading failed";
    DWORD error = scratch.Load(hive);
    if (error == ERROR_SUCCESS) {
        step = L"saving the packed copy failed";
        KeyHandle key;
        error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, scratch.name(), 0, KEY_READ, key.put());
        if (error == ERROR_SUCCESS) error = SavePackedCopy(key.get(), work, format);
    }
    if (error != ERROR_SUCCESS) ReportFailure(name, step, error);
    const DWORD unloadError = scratch.Unload();
    if (unloadError != ERROR_SUCCESS) {
        wchar_t what[64];
        FormatText(what, ARRAYSIZE(what), L"unloading HKLM\\%s failed", scratch.name());
        ReportFailure(name, what, unloadError);
    }
    if (error == ERROR_SUCCESS && unloadError == ERROR_SUCCESS) return true;
    DeleteFileW(work);
    return false;
}

// Puts the checked copy in place of the hive, the hive and its logs kept
// aside; on failure everything is as it was and the copy is gone.
bool PutInPlace(const wchar_t* name, const wchar_t* hive, const wchar_t* work,
                const wchar_t* stamp) {
    DWORD error = KeepAside(hive, TidyTag, stamp);
    if (error != ERROR_SUCCESS) {
        ReportFailure(name, L"keeping the old file failed", error);
    } else if (MoveFileExW(work, hive, 0)) {
        return true;
    } else {
        error = GetLastError();
        PutBack(hive, TidyTag, stamp);
        ReportFailure(name, L"putting the packed copy in place failed", error);
    }
    DeleteFileW(work);
    return false;
}

void PackOfflineHive(const wchar_t* name, const wchar_t* hive, unsigned long long before,
                     const wchar_t* stamp) {
    wchar_t work[JoinedPathCapacity];
    if (!WorkFileName(work, hive)) {
        ReportFailure(name, L"naming its work file failed", ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    if (!SaveThroughScratchKey(name, hive, work) || !CheckPackedCopy(name, work)) return;
    unsigned long long after = 0;
    DWORD error = FileSizeOf(work, &after);
    if (error != ERROR_SUCCESS || DryRun) DeleteFileW(work);
    if (error != ERROR_SUCCESS) {
        ReportFailure(name, L"reading the packed size failed", error);
    } else if (DryRun) {
        ReportSizes(name, before, after, true, L"would be packed");
    } else if (PutInPlace(name, hive, work, stamp)) {
        ReportSizes(name, before, after, true, L"packed");
    }
}

}  // namespace

void PackOfflineInstallation(const wchar_t* configFolder) {
    wchar_t stamp[StampCapacity];
    FormatStamp(stamp);
    bool anyPresent = false;
    for (const MachineHive& machine : MachineHives) {
        const wchar_t* name = machine.name;
        wchar_t hive[JoinedPathCapacity];
        unsigned long long before = 0;
        DWORD error = ERROR_FILENAME_EXCED_RANGE;
        if (BuildPath(hive, ARRAYSIZE(hive), configFolder, name)) error = FileSizeOf(hive, &before);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            ReportNotPresent(name);
            continue;
        }
        anyPresent = true;
        if (error != ERROR_SUCCESS) {
            ReportFailure(name, L"reading its size failed", error);
        } else {
            PackOfflineHive(name, hive, before, stamp);
        }
    }
    if (!anyPresent) ReportFailure(configFolder, L"no hive found", ERROR_FILE_NOT_FOUND);
}
