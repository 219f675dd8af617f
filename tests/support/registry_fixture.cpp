#include "support/registry_fixture.h"

#include "shared/owned_handle.h"

static const wchar_t AppDefaultsKey[] = L"Software\\Wine\\AppDefaults\\zel.exe";

LSTATUS SetStringValue(HKEY root, const std::wstring& key, const std::wstring& name,
                       const std::wstring& value, DWORD type) {
    return RegSetKeyValueW(root, key.c_str(), name.c_str(), type, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetDwordValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value) {
    return RegSetKeyValueW(root, key.c_str(), name.c_str(), REG_DWORD, &value, sizeof(value));
}

LSTATUS DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    return RegDeleteKeyValueW(root, key.c_str(), name.c_str());
}

LSTATUS DeleteKeyTree(HKEY root, const std::wstring& key) {
    RegDeleteTreeW(root, key.c_str());  // empties the key; the key itself goes next
    return RegDeleteKeyW(root, key.c_str());
}

bool KeyExists(HKEY root, const std::wstring& key) {
    KeyHandle handle;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

std::wstring ReadStringValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD* type) {
    wchar_t data[8192] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t), valueType = REG_NONE;
    LSTATUS status = RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                                  RRF_NOEXPAND, &valueType, data, &size);
    if (type) *type = valueType;
    return status == ERROR_SUCCESS ? data : L"";
}

DWORD ReadDwordValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    DWORD value = 0xDEADBEEF, size = sizeof(value);
    if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size)) return 0xDEADBEEF;
    return value;
}

ScopedWineVersion::ScopedWineVersion(const std::wstring& version) {
    SetStringValue(HKEY_CURRENT_USER, AppDefaultsKey, L"Version", version);
}

ScopedWineVersion::~ScopedWineVersion() { DeleteKeyTree(HKEY_CURRENT_USER, AppDefaultsKey); }
