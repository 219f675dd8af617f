#include "hive_check/hive_files.h"

#include <stdio.h>

std::string Verdict(const std::wstring& path) {
    HiveCheckResult verdict;
    if (const DWORD error = CheckHiveFile(path.c_str(), &verdict)) {
        return "not checked: " + Show(error);
    }
    return VerdictLine(verdict);
}

std::string VerdictLine(const HiveCheckResult& verdict) {
    if (!verdict.passed) return "failed: " + Narrow(verdict.problem);
    if (verdict.textFormat) return "passed, text";
    wchar_t logs[HiveProblemCapacity];
    DescribeLogs(verdict, logs, ARRAYSIZE(logs));
    if (verdict.needsLogs) return "passed " + Narrow(logs);
    return verdict.dirty ? "passed, dirty (" + Narrow(verdict.logsNote) + ")" : "passed";
}

std::wstring OracleFile(const std::wstring& label) {
    return label.rfind(L"real\\", 0) == 0 ? WindowsHive(label.substr(5))
                                          : HiveFile(label.substr(4));
}

namespace {

std::string Hex(const wchar_t* name) { return HexBytes(name, wcslen(name) * 2); }

DWORD Fnv(const std::string& data) {
    DWORD value = 0x811C9DC5;
    for (unsigned char byte : data) value = (value ^ byte) * 0x01000193;
    return value;
}

void ListKey(Hive* hive, HiveKey key, int depth, Strings* lines) {
    static wchar_t name[65536];
    HiveKeyInfo info;
    DWORD error = HiveKeyInfoOf(hive, key, &info);
    if (!error) error = HiveKeyName(hive, key, name, ARRAYSIZE(name));
    if (error) return lines->push_back("error " + Show(error));
    lines->push_back("K " + std::to_string(depth) + " " + Hex(name));
    for (DWORD i = 0; i < info.values; ++i) {
        HiveValue value;
        HiveValueInfo about;
        error = HiveValueAt(hive, key, i, &value);
        if (!error) error = HiveValueInfoOf(hive, value, &about);
        if (!error) error = HiveValueName(hive, value, name, ARRAYSIZE(name));
        std::string data(error ? 0 : about.dataSize, '\0');
        BYTE* bytes = reinterpret_cast<BYTE*>(&data[0]);
        if (!error) error = HiveValueData(hive, value, 0, bytes, about.dataSize);
        if (error) return lines->push_back("error " + Show(error));
        char line[64];
        snprintf(line, sizeof(line), " %lu %lu %08lx", about.type, about.dataSize, Fnv(data));
        lines->push_back("V " + Hex(name) + line);
    }
    HiveSubkeyCursor cursor = {};
    HiveKey child = 0;
    while ((error = HiveNextSubkey(hive, key, &cursor, &child)) == ERROR_SUCCESS)
        ListKey(hive, child, depth + 1, lines);
    if (error != ERROR_NO_MORE_ITEMS) lines->push_back("error " + Show(error));
}

}  // namespace

Strings Listing(Hive* hive) {
    Strings lines;
    HiveKey root = 0;
    const DWORD error = HiveRoot(hive, &root);
    if (error) return {"error " + Show(error)};
    ListKey(hive, root, 0, &lines);
    return lines;
}
