#include "app/startup.h"

#include <locale.h>
#include <wchar.h>

#include "app/os_version.h"
#include "shared/path_join.h"
#include "shared/system_entry.h"
#include "state/run_state.h"

namespace {

// The record the version scan writes into; only major and minor are read.
OSVERSIONINFOEXW VersionRecord;

void CaptureModuleDir() {
    DWORD length = GetModuleFileNameW(nullptr, ModuleDir, ARRAYSIZE(ModuleDir));
    if (length >= ARRAYSIZE(ModuleDir)) ModuleDir[ARRAYSIZE(ModuleDir) - 1] = L'\0';
    wchar_t* lastBackslash = wcsrchr(ModuleDir, L'\\');
    if (lastBackslash) *lastBackslash = L'\0';
}

}  // namespace

void CaptureStartupValues() {
    UINT length = GetSystemDirectoryW(SystemDir, ARRAYSIZE(SystemDir));
    if (length >= ARRAYSIZE(SystemDir)) SystemDir[0] = L'\0';

    CaptureModuleDir();

    VersionRecord.dwOSVersionInfoSize = sizeof(VersionRecord);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&VersionRecord));
#pragma GCC diagnostic pop
    DetectOsVersion(&VersionRecord.dwMajorVersion, &VersionRecord.dwMinorVersion,
                    &VersionRecord.wServicePackMajor);
    OsMajor = VersionRecord.dwMajorVersion;
    OsMinor = VersionRecord.dwMinorVersion;

    setlocale(LC_ALL, "");

    length = GetWindowsDirectoryW(BackupRoot, ARRAYSIZE(BackupRoot));
    if (length >= ARRAYSIZE(BackupRoot)) BackupRoot[0] = L'\0';
    JoinPath(BackupRoot, ARRAYSIZE(BackupRoot), L"ZEL");
}
