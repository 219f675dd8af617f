#pragma once
// backup.log: the trace a run leaves in its backup folder, in service mode
// too; its lines are gathered as the run goes and written when it closes.
// UTF-16LE with a byte-order mark and CR LF line ends, so that Notepad and
// `type` show it.
#include <windows.h>

// Creates the log; ERROR_SUCCESS or the Win32 error.
DWORD OpenRunLog(const wchar_t* path);

// Appends one line; nothing happens while no log is open. A failed write
// is remembered and ends the logging.
void LogLine(const wchar_t* text);

// Prints the line on the console and appends it to the log.
void PrintAndLog(const wchar_t* line);

// Appends `label`, a blank and the local date and time.
void LogTimeLine(const wchar_t* label);

// Appends one line to the log of the finished backup in folder, as the run
// that made it wrote its lines. ERROR_SUCCESS or the Win32 error.
DWORD AppendToBackupLog(const wchar_t* folder, const wchar_t* text);

// Closes the log: ERROR_SUCCESS when every line was written, else the error
// of the first write that failed.
DWORD CloseRunLog();
