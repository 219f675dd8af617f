// The reader on the files Windows wrote, against what hivex reads of them
// (readings.txt from tests/hives/oracle.py).
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

// The key at `path` in the hive file: "-" when there is none, else its
// first value's name, type and data as text.
std::wstring Holds(const std::wstring& file, const std::wstring& path) {
    HiveHandle hive;
    DWORD error = HiveOpen(file.c_str(), hive.put());
    const HiveKey key = error ? 0 : Find(hive.get(), path, &error);
    HiveValue value = 0;
    HiveValueInfo about = {};
    wchar_t name[64] = L"";
    if (error) return L"-";
    if (HiveValueAt(hive.get(), key, 0, &value) || HiveValueInfoOf(hive.get(), value, &about) ||
        HiveValueName(hive.get(), value, name, ARRAYSIZE(name)))
        return L"no value";
    std::wstring data(about.dataSize / 2, L'\0');
    HiveValueData(hive.get(), value, 0, reinterpret_cast<BYTE*>(&data[0]), about.dataSize / 2 * 2);
    return name + (L" " + std::to_wstring(about.type) + L" " + data);
}

}  // namespace

// A dirty hive reads as hivex reads Windows' own recovery of it, and a copy
// without its logs as hivex reads the file.
TEST(ReadsWhatHivexReads) {
    const auto readings = HivexReadings();
    REQUIRE(readings.size() == 15);
    const std::map<std::wstring, std::wstring> recovered = {
        {L"NewDirtyHive1\\NewDirtyHive", L"NewDirtyHive1\\RecoveredHive_Windows10"},
        {L"OldDirtyHive\\OldDirtyHive", L"OldDirtyHive\\RecoveredHive_Windows7"}};
    ScratchFolder scratch(L"reader");
    for (const auto& [name, lines] : readings) {
        Context row(name);
        std::wstring path = WindowsHive(name);
        if (recovered.count(name)) {
            CHECK_EQ(readings.at(recovered.at(name)), Read(path));
            path = scratch / L"alone";
            REQUIRE(WriteFileBytes(path, ReadFileBytes(WindowsHive(name))));
        }
        CHECK_EQ(lines, Read(path));
    }
}

// What real-hives/README.md says the dirty hives hold, before their logs
// (a copy without them) and after.
TEST(DirtyHivesHoldWhatTheirLogsMake) {
    ScratchFolder scratch(L"reader");
    const std::wstring dirty = WindowsHive(L"NewDirtyHive1\\NewDirtyHive"),
                       alone = scratch / L"alone";
    REQUIRE(WriteFileBytes(alone, ReadFileBytes(dirty)));
    const Names keys = {L"Key1",         L"Key2\\Key2_1", L"Key2\\Key2_2", L"Key3",
                        L"Key3\\Key3_1", L"Key3\\Key3_2", L"Key3\\Key3_3"};
    for (size_t i = 0; i < keys.size(); ++i) {
        Context row(keys[i]);
        CHECK_EQ(i < 3, Holds(alone, keys[i]) != L"-");
        CHECK_EQ(i >= 3, Holds(dirty, keys[i]) != L"-");
    }
    // " 1 " (a default REG_SZ value), then its characters with their NUL.
    CHECK_EQ(size_t(3 + 6001), Holds(alone, L"Key1").size());
    CHECK_EQ(size_t(3 + 1441), Holds(dirty, L"Key3").size());
    const std::wstring old = WindowsHive(L"OldDirtyHive\\OldDirtyHive"),
                       many = L"key_with_many_subkeys\\";
    CHECK_EQ(std::wstring(L"-"), Holds(old, many + L"1"));
    CHECK(Holds(old, many + L"5000\\find_me_in_log") != L"-");
    CHECK_EQ(std::wstring(L"V 7 a\0bb\0ccc\0\0", 14), Holds(old, many + L"4500"));
}

TEST(FindsKeysWithoutRegardToCase) {
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
