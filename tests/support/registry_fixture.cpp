#include "support/registry_fixture.h"

#include "shared/owned_handle.h"

namespace {
const wchar_t AppDefaultsKey[] = L"Software\\Wine\\AppDefaults\\zel.exe";
}

LSTATUS SetStringValue(HKEY root, const std::wstring& key, const std::wstring& name,
                       const std::wstring& value, DWORD type) {
    KeyHandle handle;
    LSTATUS status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                     handle.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(handle.get(), name.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetDwordValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value) {
    KeyHandle handle;
    LSTATUS status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                     handle.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(handle.get(), name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LSTATUS DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    KeyHandle handle;
    LSTATUS status = RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, handle.put());
    if (status != ERROR_SUCCESS) return status;
    return RegDeleteValueW(handle.get(), name.c_str());
}

LSTATUS DeleteKeyTree(HKEY root, const std::wstring& key) {
    RegDeleteTreeW(root, key.c_str());  // empties the key; the key itself goes next
    return RegDeleteKeyW(root, key.c_str());
}

bool KeyExists(HKEY root, const std::wstring& key) {
    KeyHandle handle;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

std::wstring ReadStringValue(HKEY root, const std::wstring& key, const std::wstring& name,
                             DWORD* type) {
    wchar_t data[8192] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD valueType = REG_NONE;
    LSTATUS status = RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                                  &valueType, data, &size);
    if (type) *type = valueType;
    if (status != ERROR_SUCCESS) return std::wstring();
    if (valueType != REG_SZ && valueType != REG_EXPAND_SZ && valueType != REG_MULTI_SZ) {
        return std::wstring();
    }
    return std::wstring(data);
}

DWORD ReadDwordValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return 0xDEADBEEF;
    }
    return value;
}

ScopedWineVersion::ScopedWineVersion(const std::wstring& version) {
    SetStringValue(HKEY_CURRENT_USER, AppDefaultsKey, L"Version", version);
}

ScopedWineVersion::~ScopedWineVersion() { DeleteKeyTree(HKEY_CURRENT_USER, AppDefaultsKey); }
