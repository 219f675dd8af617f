#include "shared/platform.h"

#include "shared/system_entry.h"

namespace {

bool RunsUnderWine() {
    using WineVersionFn = const char*(CDECL*)();
    return LookUp<WineVersionFn>(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

template <class Fn>
Fn LookUpUnderWow64(const char* name) {
    return RunsUnderWow64() ? LookUp<Fn>(GetModuleHandleW(L"kernel32.dll"), name) : nullptr;
}

}  // namespace

PlatformCalls Platform = {
    MoveFileExW,
    MoveFileExW,
    ReadFile,
    CreateDirectoryW,
    LookUp<CreateHardLinkFn>(GetModuleHandleW(L"kernel32.dll"), "CreateHardLinkW"),
    GetLocalTime,
    LookUp<RegSaveKeyExFn>(GetModuleHandleW(L"advapi32.dll"), "RegSaveKeyExW"),
    RegReplaceKeyW,
    SetServiceStatus,
    RegisterServiceCtrlHandlerW,
    ReportEventW,
    LookUpUnderWow64<Wow64DisableRedirectionFn>("Wow64DisableWow64FsRedirection"),
    LookUpUnderWow64<Wow64RevertRedirectionFn>("Wow64RevertWow64FsRedirection"),
    RunsUnderWine,
    (64u << 20) - 4096,
    2u << 20,
};
