#include "revert/restore_plan.h"

#include <wchar.h>

#include "hive/hive_check.h"
#include "revert/hive_place.h"
#include "revert/run_state.h"
#include "shared/console.h"

namespace {

bool CheckHive(BackupHive* hive) {
    HiveCheckResult result;
    DWORD error = ERROR_SUCCESS;
    wchar_t line[JoinedPathCapacity + 128];
    if (!CheckHiveFile(hive->source, &result, &error)) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to check %s", hive->label);
        PrintError(error, line);
        return false;
    }
    if (!result.passed) {
        FormatText(line, ARRAYSIZE(line), L"(!) %s failed its check: %s", hive->label,
                   result.problem);
        PrintLine(line);
        return false;
    }
    hive->dirty = result.dirty;
    return true;
}

bool Place(BackupHive* hive) {
    wchar_t reason[ReasonCapacity];
    DWORD error = PlaceHive(hive, TargetRoot, reason);
    if (error == ERROR_SUCCESS) return true;
    wchar_t prefix[ReasonCapacity + JoinedPathCapacity];
    FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to place %s: %s", hive->label, reason);
    PrintError(error, prefix);
    return false;
}

// Two hives aimed at one file would leave the first one's old file lost.
bool IsUnique(const BackupHive* hives, size_t index) {
    for (size_t other = 0; other < index; ++other) {
        if (hives[other].destination[0] == L'\0' ||
            _wcsicmp(hives[other].destination, hives[index].destination) != 0) {
            continue;
        }
        wchar_t prefix[3 * JoinedPathCapacity];
        FormatText(prefix, ARRAYSIZE(prefix), L"(!) Unable to place %s: %s goes to %s too",
                   hives[index].label, hives[other].label, hives[index].destination);
        PrintError(ERROR_ALREADY_EXISTS, prefix);
        return false;
    }
    return true;
}

}  // namespace

bool PlanHives(BackupHive* hives, size_t* count, bool checkHives) {
    bool whole = FindBackupHives(hives, count);
    if (*count == 0) {
        wchar_t line[JoinedPathCapacity + 32];
        FormatText(line, ARRAYSIZE(line), L"(!) No hive files in %s", BackupFolder);
        PrintLine(line);
        return false;
    }
    for (size_t i = 0; i < *count; ++i) {
        if (checkHives && !CheckHive(&hives[i])) whole = false;
        if (!Place(&hives[i])) {
            hives[i].destination[0] = L'\0';
            whole = false;
        } else if (!IsUnique(hives, i)) {
            whole = false;
        }
    }
    if (!whole) PrintLine(L"(!) Nothing was changed");
    return whole;
}
