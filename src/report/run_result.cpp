#include "report/run_result.h"

#include <strsafe.h>
#include <wchar.h>

#include "shared/console.h"

namespace {

void NoteFailedName(wchar_t* names, const wchar_t* hiveName) {
    static const wchar_t Cut[] = L"...";
    size_t used = 0;
    StringCchLengthW(names, FailedNamesCapacity, &used);
    if (used >= ARRAYSIZE(Cut) - 1 && wcscmp(names + used - (ARRAYSIZE(Cut) - 1), Cut) == 0) {
        return;
    }
    wchar_t added[SystemTextCapacity];
    FormatText(added, ARRAYSIZE(added), used ? L", %s" : L"%s", hiveName);
    // Room is kept for the mark that says the list goes on.
    if (used + wcslen(added) + ARRAYSIZE(Cut) > FailedNamesCapacity) {
        StringCchCatW(names, FailedNamesCapacity, Cut);
        return;
    }
    StringCchCatW(names, FailedNamesCapacity, added);
}

}  // namespace

void CountHive(HiveTally* tally, const wchar_t* name, HiveOutcome outcome) {
    if (outcome == HiveOutcome::None) return;
    ++tally->reported;
    if (outcome == HiveOutcome::Failed) {
        ++tally->failed;
        NoteFailedName(tally->failedNames, name);
        return;
    }
    if (!tally->savedNames.Append(name, wcslen(name) + 1)) tally->savedNamesWhole = false;
}

void FormatHiveSummary(const HiveTally& tally, wchar_t* line, size_t capacity) {
    FormatText(line, capacity, L"%lu of %lu hives saved", tally.reported - tally.failed,
               tally.reported);
}
