#include "backup/machine_hive.h"

#include <strsafe.h>

#include "backup/hive_result.h"
#include "backup/key_save.h"
#include "backup/live_copy.h"
#include "report/hive_report.h"
#include "resource_ids.h"
#include "shared/console.h"
#include "shared/path_join.h"
#include "state/run_state.h"

namespace {

// Copies SystemDir\CONFIG\name into folder\name and prints one result line.
bool CopyConfigHive(const wchar_t* folder, const wchar_t* name) {
    wchar_t source[SystemTextCapacity];
    wchar_t destination[SystemTextCapacity];
    if (FAILED(StringCchCopyW(source, ARRAYSIZE(source), SystemDir)) ||
        FAILED(StringCchCatW(source, ARRAYSIZE(source), L"\\CONFIG\\")) ||
        FAILED(StringCchCatW(source, ARRAYSIZE(source), name)) ||
        !BuildPath(destination, ARRAYSIZE(destination), folder, name)) {
        PrintHiveFailed(name, ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    HiveCheckResult verdict;
    DWORD logs = ERROR_SUCCESS;
    if (!CopyLiveHive(nullptr, source, destination, &verdict, &logs)) {
        PrintHiveFailed(name, LastCopyError);
        return false;
    }
    return ConcludeCheckedHive(name, destination, verdict, logs);
}

}  // namespace

bool SaveMachineHive(const wchar_t* folder, HKEY root, const wchar_t* name, const wchar_t* subkey) {
    wchar_t target[SystemTextCapacity];
    if (!BuildPath(target, ARRAYSIZE(target), folder, name)) {
        PrintHiveFailed(name, ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    if (SaveKeyToFile(target, subkey, root)) return ConcludeHive(name, target);
    // Not found means the hive is not loaded: its file is copied instead.
    if (LastSaveError == ERROR_FILE_NOT_FOUND) return CopyConfigHive(folder, name);

    PrintHiveFailed(name, LastSaveError);
    return false;
}

LSTATUS OpenMachineKey(const wchar_t* subkey, HKEY* key) {
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, key);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return status;

    wchar_t prefix[SystemTextCapacity];
    LoadResourceText(IDS_UNABLE_TO_OPEN_KEY, prefix, ARRAYSIZE(prefix));
    PrintError(static_cast<DWORD>(status), prefix);

    wchar_t line[SystemTextCapacity];
    FormatText(line, ARRAYSIZE(line), L"HKLM\\%s", subkey);
    PrintLine(line);
    return status;
}
