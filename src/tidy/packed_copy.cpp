#include "tidy/packed_copy.h"

#include <strsafe.h>

#include "hive/hive_check.h"
#include "shared/path_join.h"
#include "shared/platform.h"
#include "shared/system_entry.h"
#include "tidy/packing_report.h"

bool WorkFileName(wchar_t* work, const wchar_t* hive) {
    return AddSuffix(work, hive, L".tidy-new");
}

DWORD SavePackedCopy(HKEY key, const wchar_t* target, DWORD format) {
    // The save functions refuse to overwrite.
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(target);
    LSTATUS status = Platform.regSaveKeyEx ? Platform.regSaveKeyEx(key, target, nullptr, format)
                                           : RegSaveKeyW(key, target, nullptr);
    if (status != ERROR_SUCCESS) DeleteFileW(target);
    return static_cast<DWORD>(status);
}

bool CheckPackedCopy(TidyRun* run, const wchar_t* name, const wchar_t* copy) {
    HiveCheckResult result;
    const DWORD error = CheckHiveFile(copy, &result);
    if (error != ERROR_SUCCESS) {
        ReportFailure(run, name, L"checking the packed copy failed", error);
    } else if (!result.passed) {
        wchar_t what[128];
        StringCchPrintfW(what, ARRAYSIZE(what), L"the packed copy is not a whole hive (%s)",
                         result.problem);
        ReportFailure(run, name, what, ERROR_BADDB);
    } else {
        return true;
    }
    DeleteFileW(copy);
    return false;
}
