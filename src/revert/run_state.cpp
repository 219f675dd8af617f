#include "revert/run_state.h"

#include "shared/system_entry.h"

void LeaveWow64Views() {
    if (!RunsUnderWow64()) return;
    using Wow64DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);
    auto disable = LookUp<Wow64DisableRedirectionFn>(GetModuleHandleW(L"kernel32.dll"),
                                                     "Wow64DisableWow64FsRedirection");
    PVOID saved = nullptr;
    if (disable) disable(&saved);
}
