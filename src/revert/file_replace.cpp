#include "revert/file_replace.h"

#include "hive/hive_check.h"
#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/file_copy.h"
#include "shared/hive_logs.h"
#include "shared/kept_files.h"

namespace {

DWORD CopyHiveAndLogs(const BackupHive* hive) {
    DWORD error = CopyFileBytes(hive->source, hive->destination);
    if (error == ERROR_SUCCESS) error = CopyHiveLogs(hive->source, hive->destination);
    // The bytes may have changed since they were checked; the check finds the logs beside.
    HiveCheckResult check{};
    if (error == ERROR_SUCCESS) error = CheckHiveFile(hive->destination, &check);
    if (error == ERROR_SUCCESS && !check.passed) error = ERROR_FILE_CORRUPT;
    return error;
}

}  // namespace

bool ReplaceNow(const BackupHive* hive, const wchar_t* stamp) {
    wchar_t prefix[2 * JoinedPathCapacity];
    DWORD error = KeepAside(hive->destination, RevertTag, stamp);
    if (error != ERROR_SUCCESS) {
        FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to keep %s aside; %s not restored",
                   hive->destination, hive->label);
        PrintError(error, prefix);
        return false;
    }
    error = CopyHiveAndLogs(hive);
    if (error == ERROR_SUCCESS) {
        FormatText(prefix, ARRAYSIZE(prefix), L"%s restored to %s", hive->label, hive->destination);
        PrintLine(prefix);
        return true;
    }
    FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to restore %s to %s", hive->label,
               hive->destination);
    PrintError(error, prefix);
    // Whatever was copied goes; the kept files take their names again.
    DeleteFileW(hive->destination);
    error = PutBack(hive->destination, RevertTag, stamp, hive->present);
    if (error != ERROR_SUCCESS) {
        FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to put back the old files of %s",
                   hive->destination);
        PrintError(error, prefix);
    }
    return false;
}

bool PutBackNow(const wchar_t* destination, const wchar_t* stamp, unsigned had) {
    constexpr size_t Files = ARRAYSIZE(HiveFileSuffixes);
    wchar_t plain[Files][JoinedPathCapacity];
    wchar_t kept[Files][JoinedPathCapacity];
    bool wasKept[Files] = {};
    bool wasThere[Files] = {};
    for (size_t i = 0; i < Files; ++i) {
        if (!AddSuffix(plain[i], destination, HiveFileSuffixes[i]) ||
            !KeptName(kept[i], destination, HiveFileSuffixes[i], RevertTag, stamp)) {
            plain[i][0] = kept[i][0] = L'\0';
            continue;
        }
        wasKept[i] = IsFile(kept[i]);
        wasThere[i] = IsFile(plain[i]);
    }
    const DWORD error = PutBack(destination, RevertTag, stamp, had);
    wchar_t line[2 * JoinedPathCapacity + 32];
    for (size_t i = 0; i < Files; ++i) {
        if (wasKept[i] && !IsFile(kept[i])) {
            FormatText(line, ARRAYSIZE(line), L"Put back %s", plain[i]);
            PrintLine(line);
        } else if (!wasKept[i] && wasThere[i] && !IsFile(plain[i])) {
            FormatText(line, ARRAYSIZE(line), L"Removed %s", plain[i]);
            PrintLine(line);
        }
    }
    if (error == ERROR_SUCCESS) return true;
    FormatText(line, ARRAYSIZE(line), L"(!) Unable to put back everything kept for %s",
               destination);
    PrintError(error, line);
    return false;
}
