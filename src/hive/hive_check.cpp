#include "hive/hive_check.h"

#include <strsafe.h>

#include "hive/regf_check.h"

namespace {

// The fault and where it lies; found in a recovered image, it says so, and
// a base block that no log could mend says why.
void Describe(HiveCheckResult* result, const CheckFault& fault, bool unmended) {
    wchar_t what[HiveProblemCapacity];
    if (fault.subject) {
        StringCchPrintfW(what, ARRAYSIZE(what), L"%s %s", fault.subject, fault.problem);
    } else {
        StringCchCopyW(what, ARRAYSIZE(what), fault.problem);
    }
    wchar_t* problem = result->problem;
    if (fault.at == NoFileOffset) {
        StringCchCopyW(problem, HiveProblemCapacity, what);
    } else {
        StringCchPrintfW(problem, HiveProblemCapacity, L"%s at file offset 0x%I64X", what,
                         fault.at);
    }
    if (result->needsLogs) {
        wchar_t logs[HiveProblemCapacity];
        DescribeLogs(*result, logs, ARRAYSIZE(logs));
        StringCchCatW(problem, HiveProblemCapacity, L", ");
        StringCchCatW(problem, HiveProblemCapacity, logs);
    } else if (unmended) {
        StringCchCatW(problem, HiveProblemCapacity, L", and its logs cannot mend it: ");
        StringCchCatW(problem, HiveProblemCapacity, result->logsNote);
    }
}

// Both passes, the key tree's only after the bins passed.
DWORD Passes(Hive* hive, CheckFault* fault) {
    DWORD error = CheckBins(hive, fault);
    if (error == ERROR_SUCCESS && !fault->problem) error = CheckKeyTree(hive, fault);
    EndCheck(hive);
    return error;
}

// The verdict on what the passes found: the fault, or none.
void Conclude(HiveCheckResult* verdict, const CheckFault& fault, bool unmended) {
    if (fault.problem) {
        Describe(verdict, fault, unmended);
    } else {
        verdict->passed = true;
    }
}

}  // namespace

bool CheckHeldHive(const BYTE* file, size_t length, HiveMemory* memory, HiveCheckResult* verdict) {
    CheckFault fault = {nullptr, nullptr, NoFileOffset};
    HiveHandle hive(HiveOpenHeld(file, length, memory));
    if (!hive || Passes(hive.get(), &fault) != ERROR_SUCCESS) return false;
    *verdict = HiveCheckResult();
    Conclude(verdict, fault, false);
    return true;
}

DWORD CheckHive(Hive* hive, HiveCheckResult* result) {
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
        error = Passes(hive, &fault);
    }
    if (error != ERROR_SUCCESS) return error;
    const LogReplay& replay = hive->replay;
    verdict.dirty = hive->dirty;
    verdict.needsLogs = replay.recovered;
    verdict.logEntries = replay.entries;
    verdict.logPages = replay.oldFormat;
    if (hive->dirty) StringCchCopyW(verdict.logsNote, HiveLogsNoteCapacity, replay.stopped);
    Conclude(
        &verdict, fault,
        hive->dirty && !replay.recovered && hive->fault && hive->faultAt == regf::ChecksumOffset);
    *result = verdict;
    return ERROR_SUCCESS;
}

DWORD CheckHiveFile(const wchar_t* path, HiveCheckResult* result, HiveMemory* memory) {
    HiveHandle hive;
    const DWORD error = HiveOpenWith(path, memory, hive.put());
    return error == ERROR_SUCCESS ? CheckHive(hive.get(), result) : error;
}

void DescribeLogs(const HiveCheckResult& result, wchar_t* text, size_t capacity) {
    const wchar_t* unit = result.logPages ? (result.logEntries == 1 ? L"page" : L"pages")
                                          : (result.logEntries == 1 ? L"entry" : L"entries");
    StringCchPrintfW(
        text, capacity,
        result.logsNote[0] ? L"after its logs (%lu %s; %s)" : L"after its logs (%lu %s)",
        result.logEntries, unit, result.logsNote);
}
