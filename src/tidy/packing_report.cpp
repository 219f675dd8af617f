#include "tidy/packing_report.h"

#include "shared/console.h"
#include "shared/path_join.h"
#include "tidy/run_state.h"

namespace {

// A name, a path of at most JoinedPathCapacity and the words around them.
constexpr size_t LineCapacity = 2 * JoinedPathCapacity + 128;

}  // namespace

void ReportSizes(TidyRun* run, const wchar_t* name, unsigned long long before,
                 unsigned long long after, bool packed, const wchar_t* outcome) {
    run->totalBefore += before;
    run->totalAfter += packed ? after : before;
    wchar_t line[LineCapacity];
    // msvcrt of Windows 2000 knows %I64u, not %llu.
    FormatText(line, ARRAYSIZE(line), L"%s: %I64u -> %I64u bytes, %s", name, before, after,
               outcome);
    PrintLine(line);
}

void ReportFailure(TidyRun* run, const wchar_t* name, const wchar_t* what, DWORD code) {
    run->failed = true;
    wchar_t prefix[LineCapacity];
    FormatText(prefix, ARRAYSIZE(prefix), L"%s: %s", name, what);
    PrintError(code, prefix);
}

void ReportNotPresent(const wchar_t* name) {
    wchar_t line[LineCapacity];
    FormatText(line, ARRAYSIZE(line), L"%s: not present, passed over", name);
    PrintLine(line);
}

void PrintTotal(const TidyRun& run, bool online) {
    wchar_t line[LineCapacity];
    FormatText(line, ARRAYSIZE(line), L"Total: %I64u -> %I64u bytes%s", run.totalBefore,
               run.totalAfter,
               online && run.scheduledHives > 0 ? L"; a restart finishes the work" : L"");
    PrintLine(line);
}
