#pragma once
#include <windows.h>

#include "report/run_result.h"

// Makes today's backup under BackupRoot unless it stands already, and purges
// old backups. The backup is filled in a work folder and takes the date name
// only when finished. From the moment the date is known BackupRoot names
// the day's folder. What the run did comes back whole; its exitStatus is
// ExitDone, or ExitFailed when a hive, a companion tool or a step failed.
RunResult RunDatedBackup();
