#pragma once
// Small registry helpers for tests; the setters return the Reg* status.
#include <windows.h>

#include <string>

LSTATUS SetStringValue(HKEY root, const std::wstring& key, const std::wstring& name,
                       const std::wstring& value, DWORD type = REG_SZ);
LSTATUS SetDwordValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value);
LSTATUS DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name);
LSTATUS DeleteKeyTree(HKEY root, const std::wstring& key);
bool KeyExists(HKEY root, const std::wstring& key);
// Empty when the value is missing or not a string; *type gets its type.
std::wstring ReadStringValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD* type = nullptr);
// 0xDEADBEEF when the value is missing or not a DWORD.
DWORD ReadDwordValue(HKEY root, const std::wstring& key, const std::wstring& name);

// Makes Wine report another Windows version to zel.exe while it lives
// ("winxp", "vista", "win7", "win8", "win81", "win10").
struct ScopedWineVersion {
    explicit ScopedWineVersion(const std::wstring& version);
    ~ScopedWineVersion();
};
