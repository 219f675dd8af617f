// The reader on the files Windows wrote, against what hivex reads of them
// (readings.txt from tests/hives/oracle.py).
#include <sstream>

#include "hive/hive_bytes.h"
#include "hive/log_replay.h"
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

HiveKey Find(Hive* hive, std::initializer_list<const wchar_t*> path, DWORD* error) {
    HiveKey key = 0;
    *error = HiveRoot(hive, &key);
    for (const wchar_t* name : path) {
        if (*error == ERROR_SUCCESS) *error = HiveFindSubkey(hive, key, name, &key);
    }
    return key;
}

}  // namespace

TEST(ReadsWhatHivexReads) {
    const auto readings = HivexReadings();
    REQUIRE(readings.size() == 15);
    for (const auto& [name, lines] : readings) {
        Context row(name);
        HiveHandle hive;
        REQUIRE(HiveOpen(WindowsHive(name).c_str(), hive.put()) == ERROR_SUCCESS);
        CHECK_EQ(lines, Listing(hive.get()));
    }
}

TEST(FindsKeysWithoutRegardToCase) {
    HiveHandle many, unicode;
    REQUIRE(HiveOpen(WindowsHive(L"ManySubkeysHive").c_str(), many.put()) == ERROR_SUCCESS);
    REQUIRE(HiveOpen(WindowsHive(L"UnicodeHive").c_str(), unicode.put()) == ERROR_SUCCESS);
    DWORD error = 0;
    Find(many.get(), {L"KEY_WITH_MANY_SUBKEYS", L"2119", L"Find_Me"}, &error);
    CHECK_EQ(DWORD(ERROR_SUCCESS), error);
    Find(many.get(), {L"key_with_many_subkeys", L"5001"}, &error);
    CHECK_EQ(DWORD(ERROR_FILE_NOT_FOUND), error);
    const HiveKey key =
        Find(unicode.get(), {L"\x043f\x0440\x0438\x0432\x0435\x0442", L"\x041a\x041b\x042e\x0427"},
             &error);
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
    const HiveKey key = Find(hive.get(), {L"key_with_bigdata"}, &error);
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

// The log replay's runs laid over a dirty hive read as the image the replay
// recovers, in pieces that cross blocks and runs.
TEST(AReplayLaidOverTheFileReadsAsTheRecoveredImage) {
    for (const wchar_t* dirty : {L"NewDirtyHive1\\NewDirtyHive", L"OldDirtyHive\\OldDirtyHive"}) {
        Context row(dirty);
        LogReplay replay;
        REQUIRE(ReplayHiveLogs(WindowsHive(dirty).c_str(), &replay) == ERROR_SUCCESS);
        REQUIRE(replay.recovered);
        const DWORD size = replay.binsDataSize;
        std::string expected(size, '\0'), image(size, '\0');
        FileHandle file(CreateFileW(WindowsHive(dirty).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
        REQUIRE(ReadRecoveredBytes(replay, file.get(), 4096, reinterpret_cast<BYTE*>(&expected[0]),
                                   size) == ERROR_SUCCESS);
        static HiveBytes bytes;
        REQUIRE(HiveBytesBegin(&bytes, file.get(), ReadFileBytes(WindowsHive(dirty)).size(), size,
                               &replay));
        for (DWORD at = 0; at < size; at += 7777)
            CHECK(HiveBytesRead(&bytes, at, &image[at], std::min<DWORD>(7777, size - at)));
        HiveBytesEnd(&bytes);
        CHECK(image == expected);
    }
}
