// The hive check on files Windows wrote, on copies of them each damaged in
// one way, and on files hivex made (tests/hives/make_hives.py).
#include <stdio.h>

#include "hive_check/hive_files.h"
#include "shared/platform.h"

namespace {

// A copy of a Windows-written hive, in memory, and the untouched file open
// for finding the cells to damage. Offsets count from the hive bins data.
struct Copy {
    std::string bytes;
    HiveHandle hive;
    explicit Copy(const std::wstring& name) : bytes(ReadFileBytes(WindowsHive(name))) {
        HiveOpen(WindowsHive(name).c_str(), hive.put());
    }
    DWORD Key(std::initializer_list<const wchar_t*> path) {
        HiveKey key = 0;
        HiveRoot(hive.get(), &key);
        for (const wchar_t* name : path) HiveFindSubkey(hive.get(), key, name, &key);
        return key;
    }
    DWORD Value(DWORD key, DWORD index) {
        HiveValue value = 0;
        HiveValueAt(hive.get(), key, index, &value);
        return value;
    }
    BYTE* At(DWORD offset) { return reinterpret_cast<BYTE*>(&bytes[4096 + offset]); }
    DWORD Get(DWORD offset) { return regf::ReadDword(At(offset)); }
    void Set(DWORD offset, DWORD value) { regf::WriteDword(At(offset), value); }
    DWORD Bins() { return regf::ReadDword(reinterpret_cast<BYTE*>(&bytes[40])); }
};

std::string Where(DWORD cell) {
    char text[40];
    snprintf(text, sizeof(text), " at file offset 0x%lX", cell + 4096ul);
    return text;
}

}  // namespace

// Every file Windows wrote passes, but for the dirty ones and their logs (checked with their logs
// in DamagedCopiesFailAtTheirFault and log_replay_test). The writer's files pass in the scenes
// that back them up and restore them.
TEST(WindowsWrittenHivesPass) {
    if (!HaveWindowsHives()) return;
    for (const std::wstring& name : WindowsHiveNames()) {
        if (name.find(L"Dirty") != name.npos && name.find(L"Recovered") == name.npos) continue;
        Context row(name);
        CHECK_EQ(std::string("passed"), Verdict(WindowsHive(name)));
    }
}

// Each copy breaks one rule; the verdict names the first fault and where.
TEST(DamagedCopiesFailAtTheirFault) {
    if (!HaveWindowsHives()) return;
    const std::wstring many = L"ManySubkeysHive", oldDirty = L"OldDirtyHive\\OldDirtyHive";
    const struct {
        const char* label;
        std::wstring file;
        std::wstring logs;                         // copied beside the damaged file
        std::function<std::string(Copy&)> damage;  // gives the verdict
    } rows[] = {
        {"a subkey list that loops", many, L"",
         [](Copy& c) {
             const DWORD list =
                 c.Get(c.Key({L"key_with_many_subkeys", L"2119"}) + regf::KeySubkeyList);
             c.Set(list + regf::ListEntries, c.Key({L"key_with_many_subkeys"}));
             return "failed: subkey is referenced a second time" + Where(list);
         }},
        {"a subkey count that lies", many, L"",
         [](Copy& c) {
             const DWORD key = c.Key({L"key_with_many_subkeys"});
             c.Set(key + regf::KeySubkeyCount, 5001);
             return "failed: key's subkey count does not match its subkey list" + Where(key);
         }},
        {"an index root listing an index root", many, L"",
         [](Copy& c) {
             const DWORD root = c.Get(c.Key({L"key_with_many_subkeys"}) + regf::KeySubkeyList);
             c.Set(root + regf::ListEntries + 4, root);
             return "failed: list of an index root is another index root" + Where(root);
         }},
        {"value data past the bins", L"StringValuesHive", L"",
         [](Copy& c) {
             const DWORD value = c.Value(c.Key({L"key"}), 0);
             c.Set(value + regf::ValueData, c.Bins() + 64);
             return "failed: value data points outside the hive bins data" + Where(value);
         }},
        {"a value inside another cell", L"StringValuesHive", L"",
         [](Copy& c) {
             const DWORD list = c.Get(c.Key({L"key"}) + regf::KeyValueList);
             c.Set(list + 8, c.Get(list + 8) + 8);
             return "failed: value does not point at an allocated cell" + Where(list);
         }},
        {"two values that share their data", L"StringValuesHive", L"",
         [](Copy& c) {
             const DWORD key = c.Key({L"key"}), value = c.Value(key, 2);
             c.Set(value + regf::ValueData, c.Get(c.Value(key, 0) + regf::ValueData));
             return "failed: value data is referenced a second time" + Where(value);
         }},
        {"a big data segment past the bins", L"BigDataHive", L"",
         [](Copy& c) {
             const DWORD data = c.Get(c.Value(c.Key({L"key_with_bigdata"}), 1) + regf::ValueData);
             const DWORD list = c.Get(data + regf::BigDataSegmentList);
             c.Set(list + 8, c.Bins() + 4096);
             return "failed: big data segment points outside the hive bins data" + Where(list);
         }},
        {"a key name longer than its cell", L"UnicodeHive", L"",
         [](Copy& c) {
             const DWORD key = c.Key({L"\x041f\x0440\x0438\x0432\x0435\x0442"});
             c.At(key + regf::KeyNameLength)[1] = 0x10;
             return "failed: subkey name runs past its cell" + Where(key);
         }},
        {"a value name longer than its cell", L"MultiSzHive", L"",
         [](Copy& c) {
             const DWORD value = c.Value(c.Key({L"key"}), 0);
             c.At(value + regf::ValueNameLength)[1] = 0x40;
             return "failed: value name runs past its cell" + Where(value);
         }},
        {"a key without its security cell", L"EmptyHive", L"",
         [](Copy& c) {
             const DWORD root = c.Key({});
             c.Set(root + regf::KeySecurity, regf::NoCell);
             return "failed: key security points outside the hive bins data" + Where(root);
         }},
        {"slack that holds a bin", L"EmptyHive", L"",
         [](Copy& c) {
             memcpy(c.At(c.Bins()), "hbin", 4);
             c.Set(c.Bins() + 8, 4096);
             c.Set(c.Bins() + 32, 0xFFFFFFF8);
             return std::string("passed");
         }},
        // A fault the log's pages leave in place is found in the recovered image.
        {"a subkey count that lies, under a log", oldDirty, oldDirty,
         [](Copy& c) {
             const DWORD key = c.Key({L"key_with_many_subkeys", L"2119"});
             c.Set(key + regf::KeySubkeyCount, 2);
             return "failed: key's subkey count does not match its subkey list" + Where(key) +
                    ", after its logs (64 pages)";
         }},
    };
    ScratchFolder scratch(L"hivecheck");
    int index = 0;
    for (const auto& row : rows) {
        Context label(row.label);
        Copy copy(row.file);
        const std::string expected = row.damage(copy);
        const std::wstring path = scratch / (std::to_wstring(++index) + L"\\hive");
        REQUIRE(WriteFileBytes(path, copy.bytes));
        for (const wchar_t* suffix : {L".LOG1", L".LOG2"}) {
            if (!row.logs.empty())
                WriteFileBytes(path + suffix, ReadFileBytes(WindowsHive(row.logs + suffix)));
        }
        CHECK_EQ(expected, Verdict(path));
    }
}

// hivex's files have no slack; the damaged ones break the rules of the
// bins. Their offsets vary with hivex, so only the words are compared.
TEST(HivexMadeFiles) {
    const struct {
        const wchar_t* name;
        const char* verdict;
    } rows[] = {
        {L"good.hive", "passed"},
        {L"checksum_all_ones.hive", "passed"},
        {L"needs_logs.hive", "passed, dirty (no transaction log is beside the hive)"},
        {L"zero_tail.hive", "passed"},
        {L"text.hive", "passed, text"},
        {L"text_crlf.hive", "passed, text"},
        {L"bad_checksum.hive", "failed: base block checksum is wrong"},
        {L"short.hive", "failed: file ends inside the base block"},
        {L"cut_in_bin.hive", "failed: file ends inside the hive bins data"},
        {L"empty.hive", "failed: file is empty"},
        {L"bad_bin_size.hive", "failed: hive bin runs past the end of the hive bins data"},
        {L"bad_bin_offset.hive", "failed: hive bin offset field is wrong"},
        {L"bad_root.hive", "failed: root cell is not a key node"},
        {L"root_free.hive", "failed: root cell does not point at an allocated cell"},
        {L"root_mid_cell.hive", "failed: root cell does not point at an allocated cell"},
        {L"bad_cell.hive", "failed: cell size is zero or not a multiple of 8"},
        {L"cell_past_bin.hive", "failed: cell runs past the end of its bin"},
        {L"other_text.hive", "failed: file is not a registry hive"},
    };
    for (const auto& row : rows) {
        Context label(row.name);
        const std::string verdict = Verdict(HiveFile(row.name));
        CHECK_EQ(std::string(row.verdict), verdict.substr(0, verdict.find(" at file offset")));
    }
    CHECK_EQ(std::string("not checked: 2"), Verdict(HiveFile(L"missing.hive")));
}

// Outside Wine, a file in Wine's text form is no hive; under Wine it passes,
// and still no walk call reads it.
TEST(WineTextFormPassesOnlyUnderWine) {
    HiveHandle text;
    HiveKey root = 0;
    REQUIRE(HiveOpen(HiveFile(L"text.hive").c_str(), text.put()) == ERROR_SUCCESS);
    CHECK_EQ(DWORD(ERROR_BADDB), HiveRoot(text.get(), &root));
    SwapCall notWine(Platform.runsUnderWine, [] { return false; });
    CHECK_EQ(std::string("failed: file holds Wine's text form of the registry, which Windows "
                         "cannot load"),
             Verdict(HiveFile(L"text.hive")));
}
