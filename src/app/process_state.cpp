#include "app/process_state.h"

wchar_t SystemDir[PathCapacity];
wchar_t ModuleDir[LongPathCapacity];
wchar_t BackupRoot[LongPathCapacity];
int RetentionDays = 15;

bool UnderWow64 = false;
DWORD KeyViewFlag = 0;
DWORD OsMajor = 0;
DWORD OsMinor = 0;

IsWow64ProcessFn IsWow64ProcessEntry = nullptr;
RegSaveKeyExFn RegSaveKeyExEntry = nullptr;
Wow64DisableRedirectionFn Wow64DisableRedirectionEntry = nullptr;
Wow64RevertRedirectionFn Wow64RevertRedirectionEntry = nullptr;
