#include "tidy/packed_copy.h"

#include <strsafe.h>

#include "shared/hive_check.h"
#include "shared/path_join.h"
#include "tidy/packing_report.h"

namespace {

RegSaveKeyExFn LookUpRegSaveKeyEx() {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    FARPROC entry = advapi ? GetProcAddress(advapi, "RegSaveKeyExW") : nullptr;
    return reinterpret_cast<RegSaveKeyExFn>(reinterpret_cast<void*>(entry));
}

}  // namespace

RegSaveKeyExFn RegSaveKeyExEntry = LookUpRegSaveKeyEx();

bool WorkFileName(wchar_t* work, const wchar_t* hive) {
    return SUCCEEDED(StringCchPrintfW(work, JoinedPathCapacity, L"%s.tidy-new", hive));
}

DWORD SavePackedCopy(HKEY key, const wchar_t* target, DWORD format) {
    // The save functions refuse to overwrite.
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(target);
    LSTATUS status = RegSaveKeyExEntry ? RegSaveKeyExEntry(key, target, nullptr, format)
                                       : RegSaveKeyW(key, target, nullptr);
    if (status != ERROR_SUCCESS) DeleteFileW(target);
    return static_cast<DWORD>(status);
}

bool CheckPackedCopy(const wchar_t* name, const wchar_t* copy) {
    HiveCheckResult result;
    DWORD error = ERROR_SUCCESS;
    if (!CheckHiveFile(copy, &result, &error)) {
        ReportFailure(name, L"checking the packed copy failed", error);
    } else if (!result.passed) {
        wchar_t what[128];
        StringCchPrintfW(what, ARRAYSIZE(what), L"the packed copy is not a whole hive (%s)", result.problem);
        ReportFailure(name, what, ERROR_BADDB);
    } else {
        return true;
    }
    DeleteFileW(copy);
    return false;
}
