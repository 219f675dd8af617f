#include "revert/run_values.h"

wchar_t BackupFolder[JoinedPathCapacity];
wchar_t TargetRoot[JoinedPathCapacity];
DWORD KeyViewFlag = 0;
RegReplaceKeyFn RegReplaceKeyEntry = RegReplaceKeyW;

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using Wow64DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);

template <class Fn>
Fn LookUp(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

void LeaveWow64Views() {
    // Both functions are younger than Windows 2000, where neither is needed.
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto isWow64Process = LookUp<IsWow64ProcessFn>(kernel32, "IsWow64Process");
    BOOL wow64 = FALSE;
    if (!isWow64Process || !isWow64Process(GetCurrentProcess(), &wow64) || !wow64) return;
    KeyViewFlag = KEY_WOW64_64KEY;
    auto disable = LookUp<Wow64DisableRedirectionFn>(kernel32, "Wow64DisableWow64FsRedirection");
    PVOID saved = nullptr;
    if (disable) disable(&saved);
}
