#include "report/event_record.h"

#include "shared/console.h"
#include "shared/platform.h"
#include "zel_events.h"

void RecordServiceRun(const wchar_t* root, const RunResult& run) {
    const HiveTally& hives = run.hives;
    const RunEnd end = run.end;
    const DWORD stepError = run.stepError;
    wchar_t saved[16];
    wchar_t reported[16];
    FormatText(saved, ARRAYSIZE(saved), L"%lu", hives.reported - hives.failed);
    FormatText(reported, ARRAYSIZE(reported), L"%lu", hives.reported);
    wchar_t reason[1024];
    FormatErrorLine(reason, ARRAYSIZE(reason), stepError, L"");

    WORD type = EVENTLOG_WARNING_TYPE;
    DWORD id = MSG_BACKUP_INCOMPLETE;
    LPCWSTR strings[5] = {run.folder, saved, reported, hives.failedNames, run.folder};
    WORD count = 4;
    if (end == RunEnd::Stands || end == RunEnd::UnderWay) {
        type = EVENTLOG_INFORMATION_TYPE;
        id = end == RunEnd::Stands ? MSG_BACKUP_STANDS : MSG_BACKUP_UNDER_WAY;
        strings[0] = root;
        count = 1;
    } else if (end == RunEnd::NameTaken) {
        id = MSG_NAME_TAKEN;
        count = 1;
    } else if (stepError != ERROR_SUCCESS) {
        id = MSG_BACKUP_NOT_MADE;
        strings[0] = root;
        strings[1] = reason + 1;  // "[system text]", past the blank of the empty prefix
        count = 2;
    } else if (end == RunEnd::NotKept) {
        id = MSG_BACKUP_NOT_KEPT;
        strings[0] = root;
        count = 5;
    } else if (hives.failed == 0) {
        type = EVENTLOG_INFORMATION_TYPE;
        id = MSG_BACKUP_MADE;
        count = 3;
    }

    HANDLE source = RegisterEventSourceW(nullptr, L"zel");
    if (!source) return;
    Platform.reportEvent(source, type, 0, id, nullptr, count, 0, strings, nullptr);
    DeregisterEventSource(source);
}
