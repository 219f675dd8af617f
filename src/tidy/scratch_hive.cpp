#include "tidy/scratch_hive.h"

#include "shared/console.h"
#include "shared/owned_handle.h"

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
