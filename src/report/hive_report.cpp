#include "report/hive_report.h"

#include "report/run_log.h"
#include "resource_ids.h"
#include "shared/console.h"
#include "shared/path_join.h"

void PrintHiveSaved(const wchar_t* hiveName) {
    wchar_t line[SystemTextCapacity];
    FormatResource(line, ARRAYSIZE(line), IDS_BACKUP_COMPLETED, hiveName);
    PrintAndLog(line);
}

void PrintHiveFailed(const wchar_t* hiveName, DWORD code) {
    wchar_t prefix[SystemTextCapacity];
    FormatResource(prefix, ARRAYSIZE(prefix), IDS_SAVING_ERROR, hiveName);
    wchar_t line[RootPathCapacity];
    FormatErrorLine(line, ARRAYSIZE(line), code, prefix);
    PrintAndLog(line);
}

void LogHiveCheck(const wchar_t* hiveName, const HiveCheckResult& result) {
    wchar_t line[SystemTextCapacity];
    if (!result.passed) {
        FormatText(line, ARRAYSIZE(line), L"Check of %s failed: %s", hiveName, result.problem);
    } else if (result.textFormat) {
        FormatText(line, ARRAYSIZE(line), L"Check of %s passed (the platform's text format)",
                   hiveName);
    } else if (result.needsLogs) {
        wchar_t logs[HiveProblemCapacity];
        DescribeLogs(result, logs, ARRAYSIZE(logs));
        FormatText(line, ARRAYSIZE(line), L"Check of %s passed %s", hiveName, logs);
    } else if (result.dirty) {
        FormatText(line, ARRAYSIZE(line),
                   L"Check of %s passed; it is dirty, and Windows loads it without the changes "
                   L"of its logs: %s",
                   hiveName, result.logsNote);
    } else {
        FormatText(line, ARRAYSIZE(line), L"Check of %s passed", hiveName);
    }
    LogLine(line);
}
