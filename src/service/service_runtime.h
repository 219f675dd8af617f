#pragma once
#include <windows.h>

#include "report/run_result.h"
#include "service/daily_schedule.h"

extern SERVICE_STATUS ServiceStatus;
extern SERVICE_STATUS_HANDLE ServiceStatusHandle;
extern DWORD NextCheckPoint;
extern volatile LONG DispatcherRunning;

// Hands the main thread to the service control dispatcher and returns the
// exit status once the service has stopped: that of its last run, or
// ExitFailed when the dispatcher cannot start (as when /service is typed at
// a console). With a daily schedule the service stays after its first
// backup and makes each new day's backup until it is stopped.
int RunServiceDispatcher(const DailySchedule& daily);

// One look at the clock of a daily service: when a backup is due (a later
// date than *lastDay, at or past `minute`), makes it under root, records it,
// reports its result with SERVICE_RUNNING and sets *lastDay and *last.
// True when it made one.
bool MakeDueBackup(const wchar_t* root, int minute, DWORD* lastDay, RunResult* last);

void WINAPI ServiceCtrlHandler(DWORD control);

// Fills the shared status record and sends it, as one step. Nothing is sent
// any more once SERVICE_STOPPED has been.
void ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint, DWORD specificCode = 0);
