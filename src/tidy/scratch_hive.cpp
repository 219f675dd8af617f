#include "tidy/scratch_hive.h"

#include <strsafe.h>
#include <wchar.h>

#include "shared/console.h"
#include "shared/owned_handle.h"
#include "tidy/packing_report.h"

namespace {

constexpr wchar_t ScratchPrefix[] = L"TIDY-";
constexpr size_t ScratchPrefixLength = ARRAYSIZE(ScratchPrefix) - 1;

// The process id in a scratch key's name: "TIDY-" and eight hex digits.
bool ScratchKeyOwner(const wchar_t* name, DWORD* id) {
    if (wcsncmp(name, ScratchPrefix, ScratchPrefixLength) != 0 ||
        wcslen(name) != ScratchPrefixLength + 8) {
        return false;
    }
    *id = 0;
    for (const wchar_t* c = name + ScratchPrefixLength; *c; ++c) {
        const int digit = *c >= L'0' && *c <= L'9'   ? *c - L'0'
                          : *c >= L'A' && *c <= L'F' ? *c - L'A' + 10
                                                     : -1;
        if (digit < 0) return false;
        *id = *id << 4 | static_cast<DWORD>(digit);
    }
    return true;
}

// A process that cannot be opened for want of rights still lives.
bool IsRunning(DWORD id) {
    KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace

ScratchHive::ScratchHive() {
    FormatText(name_, ARRAYSIZE(name_), L"TIDY-%08lX", GetCurrentProcessId());
}

DWORD ScratchHive::Load(const wchar_t* hiveFile) {
    pending_ = true;
    LSTATUS status = RegLoadKeyW(HKEY_LOCAL_MACHINE, name_, hiveFile);
    loaded_ = status == ERROR_SUCCESS;
    return static_cast<DWORD>(status);
}

DWORD ScratchHive::Unload() {
    if (!pending_) return ERROR_SUCCESS;
    pending_ = false;
    LSTATUS status = RegUnLoadKeyW(HKEY_LOCAL_MACHINE, name_);
    if (status == ERROR_SUCCESS || loaded_) return static_cast<DWORD>(status);
    // After a failed load, unloading fails when there was nothing to
    // unload; only a key that is still there counts.
    KeyHandle left;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, name_, 0, KEY_READ, left.put()) != ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    return static_cast<DWORD>(status);
}

void UnloadStaleScratchKeys(TidyRun* run) {
    wchar_t name[32];
    for (DWORD index = 0;;) {
        const LSTATUS listed = RegEnumKeyW(HKEY_LOCAL_MACHINE, index, name, ARRAYSIZE(name));
        if (listed == ERROR_MORE_DATA) {
            ++index;  // no scratch key has so long a name
            continue;
        }
        if (listed != ERROR_SUCCESS) return;
        DWORD owner = 0;
        // This run has loaded nothing yet: a key under its own id is an
        // earlier run's, whose id came round again.
        if (!ScratchKeyOwner(name, &owner) ||
            (owner != GetCurrentProcessId() && IsRunning(owner))) {
            ++index;
            continue;
        }
        wchar_t line[64];
        FormatText(line, ARRAYSIZE(line), L"HKLM\\%s", name);
        const LSTATUS status = RegUnLoadKeyW(HKEY_LOCAL_MACHINE, name);
        if (status != ERROR_SUCCESS) {
            ReportFailure(run, line, L"unloading the key of a run that ended failed", status);
            ++index;
            continue;
        }
        StringCchCatW(line, ARRAYSIZE(line), L": unloaded, its run has ended");
        PrintLine(line);
    }
}
