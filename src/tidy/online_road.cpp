#include "tidy/online_road.h"

#include "shared/kept_files.h"
#include "shared/owned_handle.h"
#include "shared/platform.h"
#include "tidy/hive_file.h"
#include "tidy/packed_copy.h"
#include "tidy/packing_report.h"
#include "tidy/run_state.h"

void PackLiveHive(TidyRun* run, const LiveHive& hive, const wchar_t* stamp) {
    wchar_t work[JoinedPathCapacity];
    wchar_t old[JoinedPathCapacity];
    if (!WorkFileName(work, hive.file) || !KeptName(old, hive.file, L"", TidyTag, stamp)) {
        ReportFailure(run, hive.name, L"naming its work file failed", ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    unsigned long long before = 0;
    DWORD error = FileSizeOf(hive.file, &before);
    if (error != ERROR_SUCCESS) {
        ReportFailure(run, hive.name, L"reading its size failed", error);
        return;
    }
    {
        KeyHandle key;
        error = RegOpenKeyExW(hive.root, hive.subkey, 0, MAXIMUM_ALLOWED, key.put());
        if (error == ERROR_SUCCESS) error = SavePackedCopy(key.get(), work, REG_LATEST_FORMAT);
    }
    if (error != ERROR_SUCCESS) {
        ReportFailure(run, hive.name, L"saving the packed copy failed", error);
        return;
    }
    if (!CheckPackedCopy(run, hive.name, work)) return;

    unsigned long long after = 0;
    error = FileSizeOf(work, &after);
    const bool smaller = error == ERROR_SUCCESS && after < before;
    if (!smaller || run->dryRun) DeleteFileW(work);
    if (error != ERROR_SUCCESS) {
        ReportFailure(run, hive.name, L"reading the packed size failed", error);
    } else if (!smaller) {
        ReportSizes(run, hive.name, before, after, false, L"not smaller, left as it is");
    } else if (run->dryRun) {
        ReportSizes(run, hive.name, before, after, true, L"would be packed at the next restart");
    } else if ((error = Platform.regReplaceKey(hive.root, hive.subkey, work, old)) !=
               ERROR_SUCCESS) {
        DeleteFileW(work);
        ReportFailure(run, hive.name, L"scheduling the replacement failed", error);
    } else {
        ++run->scheduledHives;
        ReportSizes(run, hive.name, before, after, true, L"packed at the next restart");
    }
}
