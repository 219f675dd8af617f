#include "revert/run_values.h"

#include "shared/system_entry.h"

wchar_t BackupFolder[JoinedPathCapacity];
wchar_t TargetRoot[JoinedPathCapacity];
DWORD KeyViewFlag = 0;

void LeaveWow64Views() {
    if (!RunsUnderWow64()) return;
    KeyViewFlag = KEY_WOW64_64KEY;
    using Wow64DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);
    auto disable = LookUp<Wow64DisableRedirectionFn>(GetModuleHandleW(L"kernel32.dll"),
                                                     "Wow64DisableWow64FsRedirection");
    PVOID saved = nullptr;
    if (disable) disable(&saved);
}
