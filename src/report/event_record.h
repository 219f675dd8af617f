#pragma once
// The one record that each service run writes to the Application event log,
// from source "zel": information when every hive was saved, a warning that
// names the failed hives otherwise.
#include <windows.h>

// ReportEventW unless a test puts a recorder in its place.
using ReportEventFn = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*, LPVOID);
extern ReportEventFn ReportEventEntry;

// Writes the record of the run that just ended under root into folder (the
// day's backup), from HivesReported, HivesFailed, FailedHiveNames and the
// error of the step that stopped the run (ERROR_SUCCESS when none did).
void RecordServiceRun(const wchar_t* root, const wchar_t* folder, DWORD stepError);
