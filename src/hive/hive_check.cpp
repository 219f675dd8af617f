#include "hive/hive_check.h"

#include <strsafe.h>

#include "hive/regf_check.h"

namespace {

void Describe(HiveCheckResult* result, const CheckFault& fault) {
    wchar_t what[HiveProblemCapacity];
    if (fault.subject) {
        StringCchPrintfW(what, ARRAYSIZE(what), L"%s %s", fault.subject, fault.problem);
    } else {
        StringCchCopyW(what, ARRAYSIZE(what), fault.problem);
    }
    if (fault.at == NoFileOffset) {
        StringCchCopyW(result->problem, ARRAYSIZE(result->problem), what);
    } else {
        StringCchPrintfW(result->problem, ARRAYSIZE(result->problem), L"%s at file offset 0x%I64X",
                         what, fault.at);
    }
}

}  // namespace

DWORD HiveJudge(Hive* hive, HiveCheckResult* result) {
    HiveCheckResult verdict = {};
    CheckFault fault = {nullptr, nullptr, NoFileOffset};
    DWORD error = ERROR_SUCCESS;
    if (hive->kind == HiveKind::WineText) {
        verdict.passed = true;
        verdict.textFormat = true;
        *result = verdict;
        return ERROR_SUCCESS;
    }
    if (hive->fault) {
        fault.problem = hive->fault;
        // Whole-file faults are not at any one place.
        if (hive->kind == HiveKind::Regf) fault.at = hive->faultAt;
    } else if (!HiveBytesWhole(&hive->bytes)) {
        fault.problem = L"file ends inside the hive bins data";
    } else {
        error = CheckBins(hive, &fault);
        if (error == ERROR_SUCCESS && !fault.problem) error = CheckKeyTree(hive, &fault);
        EndCheck(hive);
    }
    if (error != ERROR_SUCCESS) return error;
    if (fault.problem) {
        Describe(&verdict, fault);
    } else {
        verdict.passed = true;
        verdict.dirty = hive->dirty;
        verdict.needsLogs = hive->dirty && hive->ownLog;
    }
    *result = verdict;
    return ERROR_SUCCESS;
}

bool CheckHiveFile(const wchar_t* path, HiveCheckResult* result, DWORD* error) {
    HiveHandle hive;
    *error = HiveOpen(path, hive.put());
    if (*error == ERROR_SUCCESS) *error = HiveJudge(hive.get(), result);
    return *error == ERROR_SUCCESS;
}
