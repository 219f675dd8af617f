// The reader on the files Windows wrote and the project's writer made,
// against what hivex reads of them (readings.txt from tests/hives/oracle.py).
#include <sstream>

#include "hive/wine_text_tree.h"
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
    size_t real = 0;
    for (const auto& [name, lines] : readings) {
        Context row(name);
        real += name.rfind(L"real\\", 0) == 0;
        std::wstring path = OracleFile(name);
        if (recovered.count(name)) {
            CHECK_EQ(readings.at(recovered.at(name)), Read(path));
            path = scratch / L"alone";
            REQUIRE(WriteFileBytes(path, ReadFileBytes(OracleFile(name))));
        }
        CHECK_EQ(lines, Read(path));
    }
    CHECK_EQ(size_t(5), readings.size() - real);
    if (HaveWindowsHives()) CHECK_EQ(size_t(15), real);
}

TEST(FindsKeysWithoutRegardToCase) {
    if (!HaveWindowsHives({L"ManySubkeysHive", L"UnicodeHive"})) return;
    HiveHandle many, unicode;
    REQUIRE(HiveOpen(WindowsHive(L"ManySubkeysHive").c_str(), many.put()) == ERROR_SUCCESS);
    REQUIRE(HiveOpen(WindowsHive(L"UnicodeHive").c_str(), unicode.put()) == ERROR_SUCCESS);
    DWORD error = 0;
    Find(many.get(), L"KEY_WITH_MANY_SUBKEYS\\2119\\Find_Me", &error);
    CHECK_EQ(DWORD(ERROR_SUCCESS), error);
    Find(many.get(), L"key_with_many_subkeys\\5001", &error);
    CHECK_EQ(DWORD(ERROR_FILE_NOT_FOUND), error);
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

// Wine's text form, as Wine writes it and as a damaged file may hold it: the
// last value's type and bytes, or the fault and its line.
TEST(ParsesWineText) {
    std::string deep = "[";
    for (int i = 0; i < 513; ++i) deep += i ? "\\\\a" : "a";
    const std::pair<std::string, std::string> rows[] = {
        {R"([K] 1
"v"="a\\b\"c\a\e\x41f\101\x")",
         "1: 6100 5c00 6200 2200 6300 0700 1b00 1f04 4100 7800 0000"},
        {R"([K]
"m"=str(7):"a\0b\0")",
         "7: 6100 0000 6200 0000 0000"},
        {"[A\\\\B]\n[a]\n#time=1d0\n\"h\"=hex(3):01, 02,\\\r\n  ff", "3: 0102 ff"},
        {"[K]\n\"d\"=dword:2a\n@=hex:", "3:"},
        {"[K]\n\"d\"=dword:0000002a", "4: 2a00 0000"},
        {"\"v\"=\"x\"", "fault 2: value stands before any key"},
        {"[K]\n\"v\"=\"open", "fault 3: quoted text has no end on its line"},
        {"[A\\\\\\\\B]", "fault 2: key path holds an empty name"},
        {"[K]\n\"h\"=hex:01,\\", "fault 3: hex data goes on past the end of the file"},
        {"[K]\n\"v\"=junk", "fault 3: value data is of no form Wine writes"},
        {"[K]\n\"v\"=\"\xc3\"", "fault 3: text holds a byte above 127"},
        {deep + "]", "fault 2: key lies more than 512 levels deep"},
    };
    for (const auto& [text, expected] : rows) {
        Context row(text);
        const std::string whole = "WINE REGISTRY Version 2\n" + text;
        WineTextTree tree{};
        ParseWineText(whole.data(), static_cast<DWORD>(whole.size()), &tree);
        std::string got = "fault " + std::to_string(tree.faultLine) + ": " +
                          Narrow(tree.fault ? tree.fault : L"none");
        if (tree.error == ERROR_SUCCESS) {
            const TextValue& value = tree.values[tree.valueCount - 1];
            got = std::to_string(value.type) + ":";
            for (DWORD i = 0; i < value.size; ++i) {
                char pair[4];
                snprintf(pair, sizeof(pair), i % 2 ? "%02x" : " %02x", tree.data[value.data + i]);
                got += pair;
            }
            // Keys named again in another case are the same key.
            if (text[1] == 'A') CHECK_EQ(DWORD(3), tree.keyCount);
        }
        CHECK_EQ(expected, got);
        FreeWineTextTree(&tree);
    }
}
