#pragma once
// zel's process-wide values: filled once at start-up and read by every part
// of the program. BackupRoot alone changes later: the dated run points it at
// the folder it fills, and at the day's folder once that stands.
#include <windows.h>

#include "shared/path_join.h"

extern wchar_t SystemDir[SystemTextCapacity];
extern wchar_t ModuleDir[RootPathCapacity];
extern wchar_t BackupRoot[RootPathCapacity];
extern int RetentionDays;
// Set by /service: the run is the service's, and prints nothing.
extern bool ServiceMode;

extern DWORD OsMajor;
extern DWORD OsMinor;
