#include "service/event_source.h"

#include <wchar.h>

#include "shared/owned_handle.h"

namespace {

const wchar_t EventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\zel";

}  // namespace

LSTATUS AddEventSource(const wchar_t* exePath) {
    KeyHandle key;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey, 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    const DWORD bytes = static_cast<DWORD>((wcslen(exePath) + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(exePath), bytes);
    if (status != ERROR_SUCCESS) return status;
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    return RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&types), sizeof(types));
}

LSTATUS RemoveEventSource() {
    LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}
