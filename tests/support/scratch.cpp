#include "support/scratch.h"

#include <stdio.h>
#include <wctype.h>

#include <algorithm>
#include <sstream>

#include "shared/owned_handle.h"
#include "support/check.h"
#include "support/child_process.h"

ScratchFolder::ScratchFolder(const std::wstring& tag) {
    wchar_t temp[MAX_PATH];
    const std::wstring base(temp, GetTempPathW(MAX_PATH, temp));
    for (unsigned n = GetTickCount() % 100000;; ++n) {
        path_ =
            base + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n);
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    FindHandle find(attributes & FILE_ATTRIBUTE_REPARSE_POINT
                        ? INVALID_HANDLE_VALUE
                        : FindFirstFileW((path + L"\\*").c_str(), &entry));
    for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L".." && name.find(L'\\') == name.npos)
            RemoveTree(path + L"\\" + name);
    }
    RemoveDirectoryW(path.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void ListInto(const std::wstring& folder, const std::wstring& prefix,
                     std::vector<std::wstring>* names) {
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const bool folderToList = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                  !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        // Listed, but never followed: a host name may hold "\".
        names->push_back(prefix + name +
                         (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? L"\\" : L""));
        if (folderToList && name.find(L'\\') == name.npos)
            ListInto(folder + L"\\" + name, prefix + name + L"\\", names);
    }
}

std::vector<std::wstring> ListTree(const std::wstring& folder) {
    std::vector<std::wstring> names;
    ListInto(folder, L"", &names);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> TopEntries(const std::wstring& folder) {
    std::vector<std::wstring> top;
    for (const std::wstring& entry : ListTree(folder))
        if (entry.find(L'\\') >= entry.size() - 1) top.push_back(entry);
    return top;
}

std::map<std::wstring, std::string> TreeBytes(const std::wstring& folder) {
    std::map<std::wstring, std::string> tree;
    for (const std::wstring& name : ListTree(folder))
        tree[name] = name.back() == L'\\' ? "" : ReadFileBytes(folder + L"\\" + name);
    return tree;
}

bool AgeFolder(const std::wstring& folder, double days) {
    FileHandle handle(CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    ULARGE_INTEGER value{{time.dwLowDateTime, time.dwHighDateTime}};
    value.QuadPart -= static_cast<LONGLONG>(days * 86400.0 * 1e7);  // negative: the future
    time = {value.LowPart, value.HighPart};
    return handle && SetFileTime(handle.get(), nullptr, nullptr, &time);
}

std::string ReadUtf16Text(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text.push_back(bytes[i + 1] ? '?' : bytes[i]);
    return bytes.substr(0, 2) == "\xFF\xFE" ? text : "";
}

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = towupper(c);
    return text;
}

std::wstring DateName(int daysAgo) {
    SYSTEMTIME day;
    GetLocalTime(&day);
    ULARGE_INTEGER value;
    SystemTimeToFileTime(&day, reinterpret_cast<FILETIME*>(&value));
    value.QuadPart -= daysAgo * 86400LL * 10000000;
    FileTimeToSystemTime(reinterpret_cast<FILETIME*>(&value), &day);
    wchar_t name[32];
    swprintf(name, 32, L"%04d-%02d-%02d", day.wYear, day.wMonth, day.wDay);
    return name;
}

static std::wstring Folder(UINT(WINAPI* get)(LPWSTR, UINT)) {
    wchar_t path[MAX_PATH];
    return std::wstring(path, get(path, MAX_PATH));
}
std::wstring WindowsDir() { return Folder(GetWindowsDirectoryW); }
std::wstring SystemDirectory() { return Folder(GetSystemDirectoryW); }

std::string ReportLine(const std::string& prefix, DWORD code) {
    wchar_t text[4096];
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, code, 0, text, ARRAYSIZE(text), nullptr);
    return prefix + " [" + Narrow(std::wstring(text, length)) + "]";
}

std::wstring HiveFile(const std::wstring& name) { return BuiltProgram(L"hives\\" + name); }

static std::wstring HostFile(const std::string& path) {
    std::wstring file = L"Z:" + Widen(path);
    std::replace(file.begin(), file.end(), L'/', L'\\');
    return file;
}

std::wstring WindowsHive(const std::wstring& name) { return HostFile(ZEL_REAL_HIVES "/") + name; }

std::vector<std::wstring> WindowsHiveNames() {
    std::vector<std::wstring> names;
    std::istringstream list(ReadFileBytes(HostFile(ZEL_REAL_HIVES_LIST)));
    for (std::string sum, name; list >> sum >> name;) names.push_back(Widen(name));
    return names;
}

bool HaveWindowsHives(std::vector<std::wstring> names) {
    if (names.empty()) names = WindowsHiveNames();
    std::vector<std::string> missing;
    for (const std::wstring& name : names) {
        std::string shown = Narrow(name);
        std::replace(shown.begin(), shown.end(), '\\', '/');
        if (!FileExists(WindowsHive(name))) missing.push_back(shown);
    }
    if (missing.empty()) return true;
    Skip("no build/real-hives/" + missing[0] +
         (missing.size() > 1 ? " (nor " + std::to_string(missing.size() - 1) + " more)" : "") +
         ", the hive files Windows wrote that scripts/fetch-real-hives brings");
    return false;
}

static const wchar_t AppDefaultsKey[] = L"Software\\Wine\\AppDefaults\\zel.exe";

LSTATUS SetStringValue(HKEY root, const std::wstring& key, const std::wstring& name,
                       const std::wstring& value, DWORD type) {
    return RegSetKeyValueW(root, key.c_str(), name.c_str(), type, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
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
    DWORD size = sizeof(data) - sizeof(wchar_t), valueType = REG_NONE;
    LSTATUS status =
        RegGetValueW(root, key.c_str(), name.c_str(),
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &valueType, data, &size);
    if (type) *type = valueType;
    return status == ERROR_SUCCESS ? data : L"";
}

namespace {

void ReadContents(HKEY key, const std::wstring& path, std::vector<std::string>* lines) {
    const std::string at = HexBytes(path.data(), path.size() * 2);
    lines->push_back("K " + at);
    DWORD longestName = 0, longestData = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &longestName, &longestData, nullptr, nullptr);
    std::wstring name(std::max<DWORD>(longestName, 255) + 1, L'\0');
    std::string data(longestData + 1, '\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size()), type = 0, size = longestData + 1;
        if (RegEnumValueW(key, i, &name[0], &length, nullptr, nullptr, nullptr, nullptr) ||
            RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                             &size))
            break;
        lines->push_back("V " + at + " " + HexBytes(name.data(), length * 2) + " " +
                         std::to_string(type) + " " + HexBytes(data.data(), size));
    }
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, &name[0], &length, nullptr, nullptr, nullptr, nullptr)) break;
        const std::wstring below = name.substr(0, length);
        KeyHandle child;
        RegOpenKeyExW(key, below.c_str(), 0, KEY_READ, child.put());
        ReadContents(child.get(), path.empty() ? below : path + L"\\" + below, lines);
    }
}

}  // namespace

std::string HexBytes(const void* bytes, size_t count) {
    std::string hex;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        snprintf(pair, sizeof(pair), "%02x", static_cast<const BYTE*>(bytes)[i]);
        hex += pair;
    }
    return hex.empty() ? "-" : hex;
}

std::vector<std::string> KeyContents(HKEY key) {
    std::vector<std::string> lines;
    ReadContents(key, L"", &lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

DWORD ReadDwordValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    DWORD value = 0xDEADBEEF, size = sizeof(value);
    if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size))
        return 0xDEADBEEF;
    return value;
}

ScopedWineVersion::ScopedWineVersion(const std::wstring& version) {
    SetStringValue(HKEY_CURRENT_USER, AppDefaultsKey, L"Version", version);
}

ScopedWineVersion::~ScopedWineVersion() { DeleteKeyTree(HKEY_CURRENT_USER, AppDefaultsKey); }

DWORD LinkCount(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    return file && GetFileInformationByHandle(file.get(), &information) ? information.nNumberOfLinks
                                                                        : 0;
}
