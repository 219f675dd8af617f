// The reader on the files Windows wrote and the project's writer made,
// against what hivex reads of them (readings.txt from tests/hives/oracle.py).
#include <sstream>

#include "hive_check/hive_files.h"

namespace {

std::map<std::wstring, Strings> HivexReadings() {
    std::istringstream text(ReadFileBytes(HiveFile(L"readings.txt")));
    std::map<std::wstring, Strings> readings;
    Strings* current = nullptr;
    for (std::string line; std::getline(text, line);) {
        if (line.rfind("F ", 0) == 0) {
            current = &readings[Widen(line.substr(2))];
        } else if (current) {
            current->push_back(line);
        }
    }
    return readings;
}

HiveKey Find(Hive* hive, const std::wstring& path, DWORD* error) {
    HiveKey key = 0;
    *error = HiveRoot(hive, &key);
    for (size_t at = 0; *error == ERROR_SUCCESS && at < path.size();) {
        const size_t end = std::min(path.find(L'\\', at), path.size());
        *error = HiveFindSubkey(hive, key, path.substr(at, end - at).c_str(), &key);
        at = end + 1;
    }
    return *error == ERROR_SUCCESS ? key : 0;
}

Strings Read(const std::wstring& path) {
    HiveHandle hive;
    const DWORD error = HiveOpen(path.c_str(), hive.put());
    return error ? Strings{"not opened: " + Show(error)} : Listing(hive.get());
}

}  // namespace

// The writer's hives and Windows' own: a dirty hive reads as hivex reads the
// recovery of it, and a copy without its logs as hivex reads the file.
TEST(ReadsWhatHivexReads) {
    const auto readings = HivexReadings();
    const std::map<std::wstring, std::wstring> recovered = {
        {L"real\\NewDirtyHive1\\NewDirtyHive", L"real\\NewDirtyHive1\\RecoveredHive_Windows10"},
        {L"real\\OldDirtyHive\\OldDirtyHive", L"real\\OldDirtyHive\\RecoveredHive_Windows7"},
        {L"out\\shaped\\new\\HIVE", L"out\\shaped\\new\\RECOVERED"},
        {L"out\\shaped\\old\\HIVE", L"out\\shaped\\old\\RECOVERED"}};
    ScratchFolder scratch(L"reader");
    for (const auto& [name, lines] : readings) {
        Context row(name);
        std::wstring path = OracleFile(name);
        if (recovered.count(name)) {
            CHECK_EQ(readings.at(recovered.at(name)), Read(path));
            path = scratch / L"alone";
            REQUIRE(WriteFileBytes(path, ReadFileBytes(OracleFile(name))));
        }
        CHECK_EQ(lines, Read(path));
    }
    CHECK(readings.size() >= (HaveWindowsHives() ? 20u : 5u));  // 15 of them Windows wrote
}

TEST(FindsKeysWithoutRegardToCase) {
    if (!HaveWindowsHives({L"ManySubkeysHive", L"UnicodeHive"})) return;
    HiveHandle many, unicode;
    REQUIRE(HiveOpen(WindowsHive(L"ManySubkeysHive").c_str(), many.put()) == ERROR_SUCCESS);
    REQUIRE(HiveOpen(WindowsHive(L"UnicodeHive").c_str(), unicode.put()) == ERROR_SUCCESS);
    DWORD error = 0;
    Find(many.get(), L"KEY_WITH_MANY_SUBKEYS\\2119\\Find_Me", &error);
    CHECK_EQ(DWORD(ERROR_SUCCESS), error);
    const HiveKey key = Find(
        unicode.get(), L"\x043f\x0440\x0438\x0432\x0435\x0442\\\x041a\x041b\x042e\x0427", &error);
    CHECK_EQ(DWORD(ERROR_SUCCESS), error);
    wchar_t name[8];
    CHECK_EQ(DWORD(ERROR_SUCCESS), HiveKeyName(unicode.get(), key, name, 5));
    CHECK_EQ(std::wstring(L"\x041a\x043b\x044e\x0447"), std::wstring(name));
    CHECK_EQ(DWORD(ERROR_MORE_DATA), HiveKeyName(unicode.get(), key, name, 4));
}

// Big data read in pieces that cross its segments' edges gives what one
// read gives; a handle that is no key or value is refused.
TEST(ReadsBigDataInPiecesAndRefusesBadHandles) {
    if (!HaveWindowsHives({L"BigDataHive"})) return;
    HiveHandle hive;
    REQUIRE(HiveOpen(WindowsHive(L"BigDataHive").c_str(), hive.put()) == ERROR_SUCCESS);
    DWORD error = 0;
    const HiveKey key = Find(hive.get(), L"key_with_bigdata", &error);
    HiveValue value = 0;
    REQUIRE(HiveValueAt(hive.get(), key, 1, &value) == ERROR_SUCCESS);
    std::string whole(81725, '\0'), pieces(81725, '\0');
    CHECK_EQ(DWORD(ERROR_SUCCESS),
             HiveValueData(hive.get(), value, 0, reinterpret_cast<BYTE*>(&whole[0]), 81725));
    for (DWORD at = 0; at < 81725; at += 1000) {
        const DWORD count = std::min<DWORD>(1000, 81725 - at);
        CHECK_EQ(DWORD(ERROR_SUCCESS),
                 HiveValueData(hive.get(), value, at, reinterpret_cast<BYTE*>(&pieces[at]), count));
    }
    CHECK(whole == pieces);
    BYTE byte = 0;
    HiveKeyInfo info;
    HiveValueInfo about;
    CHECK_EQ(DWORD(ERROR_INVALID_PARAMETER), HiveValueData(hive.get(), value, 81725, &byte, 1));
    CHECK_EQ(DWORD(ERROR_BADDB), HiveKeyInfoOf(hive.get(), value, &info));
    CHECK_EQ(DWORD(ERROR_BADDB), HiveValueInfoOf(hive.get(), key, &about));
    CHECK_EQ(DWORD(ERROR_BADDB), HiveKeyInfoOf(hive.get(), key + 8, &info));
    CHECK_EQ(DWORD(ERROR_BADDB), HiveKeyInfoOf(hive.get(), 0x7FFFFFF8, &info));
    CHECK_EQ(DWORD(ERROR_NO_MORE_ITEMS), HiveValueAt(hive.get(), key, 2, &value));
}
