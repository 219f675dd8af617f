#pragma once
#include <windows.h>

extern SERVICE_STATUS ServiceStatus;
extern SERVICE_STATUS_HANDLE ServiceStatusHandle;
extern DWORD NextCheckPoint;
extern volatile LONG DispatcherRunning;

// Every status report goes out through this entry; it is SetServiceStatus
// unless a test puts a recorder in its place.
using SetServiceStatusFn = BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS);
extern SetServiceStatusFn SetServiceStatusEntry;

// RegisterServiceCtrlHandlerW unless a test puts a stand-in in its place.
using RegisterHandlerFn = SERVICE_STATUS_HANDLE(WINAPI*)(LPCWSTR, LPHANDLER_FUNCTION);
extern RegisterHandlerFn RegisterHandlerEntry;

// Hands the main thread to the service control dispatcher and returns the
// exit status once the service has stopped: that of its run, or ExitFailed
// when the dispatcher cannot start (as when /service is typed at a console).
int RunServiceDispatcher();

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);

// Fills the shared status record and sends it, as one step. Nothing is sent
// any more once SERVICE_STOPPED has been.
void ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint, DWORD specificCode = 0);
