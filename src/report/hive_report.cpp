#include "report/hive_report.h"

#include "app/process_state.h"
#include "resource_ids.h"
#include "shared/console.h"

void PrintHiveSaved(const wchar_t* hiveName) {
    wchar_t line[PathCapacity];
    FormatResource(line, ARRAYSIZE(line), IDS_BACKUP_COMPLETED, hiveName);
    PrintLine(line);
}

void PrintHiveFailed(const wchar_t* hiveName, DWORD code) {
    wchar_t prefix[PathCapacity];
    FormatResource(prefix, ARRAYSIZE(prefix), IDS_SAVING_ERROR, hiveName);
    PrintError(code, prefix);
}
