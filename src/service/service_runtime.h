#pragma once
#include <windows.h>

extern SERVICE_STATUS ServiceStatus;
extern SERVICE_STATUS_HANDLE ServiceStatusHandle;
extern DWORD NextCheckPoint;
extern volatile LONG DispatcherRunning;

// Hands the main thread to the service control dispatcher and returns the
// exit status once the service has stopped: that of its run, or ExitFailed
// when the dispatcher cannot start (as when /service is typed at a console).
int RunServiceDispatcher();

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);

// Fills the shared status record and sends it, as one step. Nothing is sent
// any more once SERVICE_STOPPED has been.
void ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint, DWORD specificCode = 0);
