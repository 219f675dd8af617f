#include "tidy/offline_road.h"

#include "shared/console.h"
#include "shared/kept_files.h"
#include "shared/machine_hives.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "shared/platform.h"
#include "tidy/hive_file.h"
#include "tidy/packed_copy.h"
#include "tidy/packing_report.h"
#include "tidy/run_state.h"
#include "tidy/scratch_hive.h"

namespace {

// hive + ".tidy-" + stamp + ".new": the work file of the run under stamp.
bool WorkFileOf(wchar_t* work, const wchar_t* hive, const wchar_t* stamp) {
    wchar_t kept[JoinedPathCapacity];
    return KeptName(kept, hive, L"", TidyTag, stamp) && AddSuffix(work, kept, L".new");
}

// Loads hive under the scratch key, saves it packed to work and unloads it.
// False, with the failure reported and no work file, when any step failed.
bool SaveThroughScratchKey(TidyRun* run, const wchar_t* name, const wchar_t* hive,
                           const wchar_t* work) {
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
    if (error != ERROR_SUCCESS) ReportFailure(run, name, step, error);
    const DWORD unloadError = scratch.Unload();
    if (unloadError != ERROR_SUCCESS) {
        wchar_t what[64];
        FormatText(what, ARRAYSIZE(what), L"unloading HKLM\\%s failed", scratch.name());
        ReportFailure(run, name, what, unloadError);
    }
    if (error == ERROR_SUCCESS && unloadError == ERROR_SUCCESS) return true;
    DeleteFileW(work);
    return false;
}

// Puts the checked copy in place of the hive, the hive and its logs kept
// aside; on failure everything is as it was. The work file, named after the
// run's stamp, goes only once the hive is whole again: while it is there, the
// next run knows that this run did not finish with the hive.
bool PutInPlace(TidyRun* run, const wchar_t* name, const wchar_t* hive, const wchar_t* work,
                const wchar_t* stamp) {
    DWORD error = KeepAside(hive, TidyTag, stamp);
    if (error != ERROR_SUCCESS) {
        ReportFailure(run, name, L"keeping the old file failed", error);
    } else if (Platform.moveFile(work, hive, 0)) {
        return true;
    } else {
        error = GetLastError();
        ReportFailure(run, name, L"putting the packed copy in place failed", error);
        error = PutBack(hive, TidyTag, stamp, AllHiveFiles);
        if (error != ERROR_SUCCESS) {
            ReportFailure(run, name, L"putting back the old file failed", error);
            return false;
        }
    }
    DeleteFileW(work);
    return false;
}

void PackOfflineHive(TidyRun* run, const wchar_t* name, const wchar_t* hive,
                     unsigned long long before, const wchar_t* stamp) {
    wchar_t work[JoinedPathCapacity];
    if (!WorkFileOf(work, hive, stamp)) {
        ReportFailure(run, name, L"naming its work file failed", ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    if (!SaveThroughScratchKey(run, name, hive, work) || !CheckPackedCopy(run, name, work)) return;
    unsigned long long after = 0;
    DWORD error = FileSizeOf(work, &after);
    const bool smaller = error == ERROR_SUCCESS && after < before;
    if (!smaller || run->dryRun) DeleteFileW(work);
    if (error != ERROR_SUCCESS) {
        ReportFailure(run, name, L"reading the packed size failed", error);
    } else if (!smaller) {
        ReportSizes(run, name, before, after, false, L"not smaller, left as it is");
    } else if (run->dryRun) {
        ReportSizes(run, name, before, after, true, L"would be packed");
    } else if (PutInPlace(run, name, hive, work, stamp)) {
        ReportSizes(run, name, before, after, true, L"packed");
    }
}

// A run killed between its renames left the hive's work file, named after
// its stamp, and what it kept under that stamp: the kept files take their
// names again. A hive that is missing beside kept files of no such run is
// left to a person. False when the hive cannot be packed now.
bool PutBackUnfinishedRun(TidyRun* run, const wchar_t* name, const wchar_t* hive) {
    wchar_t stamp[StampCapacity];
    wchar_t work[JoinedPathCapacity];
    if (!FindStampedName(hive, TidyTag, L".new", stamp)) {
        if (GetFileAttributesW(hive) != INVALID_FILE_ATTRIBUTES ||
            !FindStampedName(hive, TidyTag, L"", stamp)) {
            return true;
        }
        ReportFailure(run, name, L"missing beside files tidy kept; put the right one back by hand",
                      ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (!WorkFileOf(work, hive, stamp)) return true;
    if (!HasKeptFiles(hive, TidyTag, stamp)) {
        DeleteFileW(work);  // the run ended before it kept anything aside
        return true;
    }
    if (run->dryRun) {
        ReportFailure(run, name,
                      L"kept aside by a run that did not finish; run without /n to put it back",
                      ERROR_FILE_NOT_FOUND);
        return false;
    }
    const DWORD error = PutBack(hive, TidyTag, stamp, AllHiveFiles);
    if (error != ERROR_SUCCESS) {
        ReportFailure(run, name, L"putting back what a run that did not finish kept failed", error);
        return false;
    }
    DeleteFileW(work);
    wchar_t line[64];
    FormatText(line, ARRAYSIZE(line), L"%s: put back as it was before the run of %s", name, stamp);
    PrintLine(line);
    return true;
}

}  // namespace

void PackOfflineInstallation(TidyRun* run, const wchar_t* configFolder) {
    wchar_t stamp[StampCapacity];
    FormatStamp(stamp);
    bool anyPresent = false;
    for (const MachineHive& machine : MachineHives) {
        const wchar_t* name = machine.name;
        wchar_t hive[JoinedPathCapacity];
        unsigned long long before = 0;
        DWORD error = ERROR_FILENAME_EXCED_RANGE;
        if (BuildPath(hive, ARRAYSIZE(hive), configFolder, name)) {
            if (!PutBackUnfinishedRun(run, name, hive)) {
                anyPresent = true;
                continue;
            }
            error = FileSizeOf(hive, &before);
        }
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            ReportNotPresent(name);
            continue;
        }
        anyPresent = true;
        if (error != ERROR_SUCCESS) {
            ReportFailure(run, name, L"reading its size failed", error);
        } else {
            PackOfflineHive(run, name, hive, before, stamp);
        }
    }
    if (!anyPresent) ReportFailure(run, configFolder, L"no hive found", ERROR_FILE_NOT_FOUND);
}
