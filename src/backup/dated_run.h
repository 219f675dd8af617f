#pragma once
#include <windows.h>

#include "report/event_record.h"

// Makes today's backup under BackupRoot unless it stands already, and purges
// old backups. The backup is filled in a work folder and takes the date name
// only when finished; BackupRoot then names it. Returns the exit status:
// ExitDone, or ExitFailed when a hive, a companion tool or a step failed.
int RunDatedBackup();

// The Win32 error of the step that stopped the last run (the lock, the work
// folder, sysdir.txt, the final rename, the log); ERROR_SUCCESS when none did.
extern DWORD RunStepError;

// How the last run ended.
extern RunEnd LastRunEnd;
