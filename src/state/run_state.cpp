#include "state/run_state.h"

wchar_t SystemDir[SystemTextCapacity];
wchar_t ModuleDir[RootPathCapacity];
wchar_t BackupRoot[RootPathCapacity];
int RetentionDays = 15;
bool ServiceMode = false;

DWORD OsMajor = 0;
DWORD OsMinor = 0;
