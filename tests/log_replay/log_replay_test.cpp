// The log replay on dirty hives and logs that Windows wrote, with Windows'
// own recovery of the same files as the oracle, and on copies of those logs
// damaged one way each.
#include "hive/log_replay.h"

#include "hive/marvin32.h"
#include "hive/regf_layout.h"
#include "shared/owned_handle.h"
#include "support/support.h"

namespace {

BYTE* Bytes(std::string& text, size_t at) { return reinterpret_cast<BYTE*>(&text[at]); }

// The whole recovered image, read in pieces that cross the base block's end
// and the runs' edges.
std::string Image(const LogReplay& replay, const std::wstring& primary) {
    FileHandle file(CreateFileW(primary.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    std::string image(4096 + static_cast<size_t>(replay.binsDataSize), '\0');
    for (size_t at = 0; at < image.size(); at += 777) {
        const DWORD count = static_cast<DWORD>(std::min<size_t>(777, image.size() - at));
        if (ReadRecoveredBytes(replay, file.get(), at, Bytes(image, at), count) != ERROR_SUCCESS)
            return "unreadable";
    }
    BYTE beyond = 0;
    if (ReadRecoveredBytes(replay, file.get(), image.size(), &beyond, 1) != ERROR_HANDLE_EOF)
        return "readable past its end";
    return image;
}

// Entries in NewDirtyHive.LOG2: 3 at 512, 4 at 8192, 5 at 32768. The pages
// of an entry with one page reference start 48 bytes in.
constexpr size_t Entry4 = 8192;

void Rehash(std::string& log, size_t entry) {
    const DWORD size = regf::ReadDword(Bytes(log, entry + 4));
    const unsigned long long hash1 =
        size >= 40 && entry + size <= log.size()
            ? Marvin32Hash(Bytes(log, entry + 40), size - 40, regf::LogEntryHashSeed)
            : 0;
    memcpy(&log[entry + 24], &hash1, 8);
    const unsigned long long hash2 = Marvin32Hash(Bytes(log, entry), 32, regf::LogEntryHashSeed);
    memcpy(&log[entry + 32], &hash2, 8);
}

struct Hive {
    std::string primary, log1, log2;
};

Hive NewDirtyHive() {
    const std::wstring path = WindowsHive(L"NewDirtyHive1\\NewDirtyHive");
    return {ReadFileBytes(path), ReadFileBytes(path + L".LOG1"), ReadFileBytes(path + L".LOG2")};
}

// Writes the files into folder (an empty log is no file) and replays them.
DWORD Replay(const Hive& hive, const ScratchFolder& folder, LogReplay* replay) {
    const std::wstring primary = folder / L"HIVE";
    WriteFileBytes(primary, hive.primary);
    const std::pair<const wchar_t*, const std::string*> logs[] = {{L".LOG1", &hive.log1},
                                                                  {L".LOG2", &hive.log2}};
    for (const auto& [suffix, bytes] : logs) {
        DeleteFileW((primary + suffix).c_str());
        if (!bytes->empty()) WriteFileBytes(primary + suffix, *bytes);
    }
    return ReplayHiveLogs(primary.c_str(), replay);
}

}  // namespace

// What Windows 10 recovered is the first row of DamagedLogsStopWhereWindowsWould; here the image
// goes to a file of its own, and never over one that is there.
TEST(NewFormatImageWrittenOnce) {
    if (!HaveWindowsHives()) return;
    const std::wstring primary = WindowsHive(L"NewDirtyHive1\\NewDirtyHive");
    LogReplay replay;
    REQUIRE(ReplayHiveLogs(primary.c_str(), &replay) == ERROR_SUCCESS);
    CHECK(replay.dirty && replay.recovered && !replay.oldFormat);
    ScratchFolder folder(L"log_replay");
    const std::wstring recovered = folder / L"RECOVERED";
    CHECK_EQ(DWORD(ERROR_SUCCESS), WriteRecoveredImage(replay, primary.c_str(), recovered.c_str()));
    CHECK(ReadFileBytes(recovered) == Image(replay, primary));
    CHECK_EQ(DWORD(ERROR_FILE_EXISTS),
             WriteRecoveredImage(replay, primary.c_str(), recovered.c_str()));
}

// Windows 7 wrote the hive again after its replay: the first bin's copy of
// the last written time changed with it, and one key node's largest value
// name length (key_with_many_subkeys\4500, whose one value is "V": 24 bytes
// in the log's page, 2 in Windows' file). Every other byte matches, also when
// the primary's base block is damaged: the log, newer than the first bin's
// copy of the time, then gives the base block, a primary's again.
TEST(OldFormatGivesWhatWindows7Made) {
    if (!HaveWindowsHives()) return;
    const std::wstring source = WindowsHive(L"OldDirtyHive\\OldDirtyHive");
    const std::string windows = ReadFileBytes(WindowsHive(L"OldDirtyHive\\RecoveredHive_Windows7"));
    Hive damaged = {ReadFileBytes(source), ReadFileBytes(source + L".LOG1"), ""};
    damaged.primary[100] ^= 1;
    std::string base = damaged.log1.substr(0, 512) + std::string(3584, '\0');
    regf::WriteDword(Bytes(base, regf::FileTypeOffset), regf::FileTypePrimary);
    regf::WriteDword(Bytes(base, 508), regf::BaseBlockChecksum(Bytes(base, 0)));
    ScratchFolder folder(L"log_replay");
    std::string undamaged;
    for (const bool damage : {false, true}) {
        Context row(damage ? "base block damaged" : "as Windows wrote it");
        LogReplay replay;
        REQUIRE((damage ? Replay(damaged, folder, &replay)
                        : ReplayHiveLogs(source.c_str(), &replay)) == ERROR_SUCCESS);
        CHECK(replay.dirty && replay.recovered && replay.oldFormat && replay.entries == 64 &&
              replay.stopped[0] == L'\0');
        size_t carried = 0;
        for (size_t i = 0; i < replay.runs.size(); ++i) carried += replay.runs[i].size;
        CHECK_EQ(size_t(64 * 512), carried);
        const std::string image = Image(replay, damage ? folder / L"HIVE" : source);
        REQUIRE(image.size() == 4096 + 0x77000 && windows.size() >= image.size());
        std::vector<size_t> differ;
        for (size_t at = 4096; at < image.size(); ++at) {
            if (image[at] != windows[at]) differ.push_back(at - 4096);
        }
        const std::vector<size_t> expected = {0x14, 0x15, 0x16, 0x17, 0x18, 0x6ADC8};
        CHECK_EQ(expected, differ);
        CHECK(!damage || (image.substr(0, 4096) == base && image.substr(4096) == undamaged));
        undamaged = image.substr(4096);
    }
}

// Each row damages the files one way. Windows applies the entries before a
// bad one and stops there, or uses none when the first is missing or bad.
TEST(DamagedLogsStopWhereWindowsWould) {
    if (!HaveWindowsHives()) return;
    enum Result { AllFour, FirstTwo, ThreeFromLog2, None, Shrunk, Regrown };
    const struct {
        const char* name;
        void (*damage)(Hive*);
        Result result;
        const wchar_t* stopped;
    } Rows[] = {
        {"as Windows wrote them", [](Hive*) {}, AllFour, L""},
        {"a bad Hash-1", [](Hive* h) { h->log2[Entry4 + 148] ^= 1; }, FirstTwo,
         L"log entry 4 in .LOG2 has a wrong Hash-1"},
        {"a bad Hash-2", [](Hive* h) { h->log2[Entry4 + 33] ^= 1; }, FirstTwo,
         L"log entry 4 in .LOG2 has a wrong Hash-2"},
        {"a log of another hive",
         [](Hive* h) {
             h->log1[regf::LastWrittenOffset] ^= 1;
             regf::WriteDword(Bytes(h->log1, 508), regf::BaseBlockChecksum(Bytes(h->log1, 0)));
         },
         None, L"the .LOG1 log belongs to another hive"},
        {"a sequence gap",
         [](Hive* h) {
             regf::WriteDword(Bytes(h->log2, Entry4 + 12), 6);
             Rehash(h->log2, Entry4);
         },
         FirstTwo, L".LOG2 holds log entry 6 where 4 should be"},
        {"a cut entry", [](Hive* h) { h->log2.resize(Entry4 + 12288); }, FirstTwo,
         L"log entry 4 in .LOG2 is cut short"},
        {"a bad first entry", [](Hive* h) { h->log1[560] ^= 1; }, None,
         L"log entry 2 in .LOG1 has a wrong Hash-1"},
        {"a primary base block with a wrong checksum", [](Hive* h) { h->primary[100] ^= 1; },
         ThreeFromLog2, L""},
        {"no logs", [](Hive* h) { h->log1 = h->log2 = ""; }, None,
         L"no transaction log is beside the hive"},
        // Entry 3 again after entry 2, torn: .LOG2 goes on from entry 3 all the same.
        {"a torn entry at the end of .LOG1",
         [](Hive* h) {
             h->log1 += h->log2.substr(512, 7680);
             h->log1[24576 + 100] ^= 1;
         },
         AllFour, L""},
        {"a last entry that shrinks the bins",
         [](Hive* h) {
             regf::WriteDword(Bytes(h->log2, 32768 + 16), 0x1000);
             Rehash(h->log2, 32768);
         },
         Shrunk, L""},
        // Entry 3 shrinks the bins to one; entry 4 grows them back but carries
        // only its first page: the bins it grew start out empty.
        {"bins shrunk, then grown without their pages",
         [](Hive* h) {
             regf::WriteDword(Bytes(h->log2, 512 + 16), 0x1000);
             Rehash(h->log2, 512);
             regf::WriteDword(Bytes(h->log2, Entry4 + 44), 0x1000);
             Rehash(h->log2, Entry4);
         },
         Regrown, L""},
    };
    const Hive original = NewDirtyHive();
    const std::string windows =
        ReadFileBytes(WindowsHive(L"NewDirtyHive1\\RecoveredHive_Windows10"));
    REQUIRE(original.log1.size() == 24576 && original.log2.size() == 65536);
    // After entries 2 and 3: entry 2's image of the whole bins data, then
    // entry 3's first page over it.
    std::string twoEntries = original.log1.substr(560, 0x5000);
    twoEntries.replace(0, 0x1000, original.log2.substr(560, 0x1000));
    ScratchFolder folder(L"log_replay");
    for (const auto& row : Rows) {
        Context label(row.name);
        Hive hive = original;
        row.damage(&hive);
        LogReplay replay;
        REQUIRE(Replay(hive, folder, &replay) == ERROR_SUCCESS);
        const DWORD entries[] = {4, 2, 3, 0, 4, 4};
        CHECK_EQ(entries[row.result], replay.entries);
        CHECK_EQ(row.result != None, replay.recovered);
        CHECK_EQ(std::wstring(row.stopped), std::wstring(replay.stopped));
        const std::string image = Image(replay, folder / L"HIVE");
        if (row.result == FirstTwo) {
            CHECK(image.substr(4096) == twoEntries);
        } else if (row.result == None) {
            CHECK(image == hive.primary.substr(0, image.size()));
        } else if (row.result == Shrunk) {
            CHECK(image.substr(4096) == windows.substr(4096, 0x1000));
        } else if (row.result == Regrown) {
            CHECK(image.substr(4096, 0x1000) == windows.substr(4096, 0x1000));
            CHECK(image.substr(4096 + 0x1000) == std::string(0x4000, '\0'));
        } else {
            // Windows went on to write the hive once: its sequence numbers are one on
            // from the last entry's, as the recovered base block's are.
            CHECK(image == windows.substr(0, 4096 + 0x5000));
        }
    }
}

// An old-format log applies when it is not older than the primary (the
// first bin's copy of the time for a damaged base block); of several, the
// newest. The log's second group of dirty pages starts with the bin at 0xC000.
TEST(DamagedOldFormatLogs) {
    if (!HaveWindowsHives()) return;
    const std::wstring source = WindowsHive(L"OldDirtyHive\\OldDirtyHive");
    Hive original = {ReadFileBytes(source), ReadFileBytes(source + L".LOG1"), ""};
    const unsigned long long base = regf::ReadQword(Bytes(original.log1, 12));
    const unsigned long long firstBin = regf::ReadQword(Bytes(original.primary, 4096 + 20));
    const auto written = [](std::string log, unsigned long long time, bool badBin) {
        memcpy(&log[regf::LastWrittenOffset], &time, 8);
        regf::WriteDword(Bytes(log, 508), regf::BaseBlockChecksum(Bytes(log, 0)));
        if (badBin) log[9216 + 4] ^= 1;
        return log;
    };
    const struct {
        const char* name;
        bool damageBase;
        std::string log1, log2;
        DWORD entries;  // 0: not replayed
        std::wstring stopped;
    } Rows[] = {
        {"a newer log, a damaged bin", false, written(original.log1, base + 1, true), "", 16,
         L"the hive bin at offset 0xC000 in the .LOG1 log is damaged"},
        {"an older log", false, written(original.log1, base - 1, false), "", 0,
         L"the .LOG1 log belongs to another hive"},
        {"base damaged, the newer log second", true, written(original.log1, firstBin, true),
         original.log1, 64, L""},
        {"base damaged, a log older than the first bin", true,
         written(original.log1, firstBin - 1, false), "", 0,
         L"the .LOG1 log belongs to another hive"},
    };
    ScratchFolder folder(L"log_replay");
    for (const auto& row : Rows) {
        Context label(row.name);
        Hive hive = {original.primary, row.log1, row.log2};
        if (row.damageBase) hive.primary[100] ^= 1;
        LogReplay replay;  // holds the logs open while it lives
        REQUIRE(Replay(hive, folder, &replay) == ERROR_SUCCESS);
        CHECK_EQ(row.entries != 0, replay.recovered);
        CHECK_EQ(row.entries, replay.entries);
        CHECK_EQ(row.stopped, std::wstring(replay.stopped));
    }
}

// Whatever the fields of an entry say, once its hashes are made right again:
// the replay ends, and its runs stay sorted, apart and inside the image.
TEST(AnyEntryFieldsEndInAWholeImage) {
    if (!HaveWindowsHives()) return;
    const DWORD values[] = {0, 1, 512, 0x1000, 0x5000, 0x6000, 0x7FFFF000, 0xFFFFFFFF};
    const Hive original = NewDirtyHive();
    ScratchFolder folder(L"log_replay");
    unsigned state = 12345;
    for (int round = 0; round < 60; ++round) {
        state = state * 1103515245 + 12345;
        const size_t entry = std::vector<size_t>{512, Entry4, 32768}[(state >> 8) % 3];
        const size_t field = std::vector<size_t>{4, 12, 16, 20, 40, 44}[(state >> 12) % 6];
        const DWORD value = values[(state >> 20) % 8];
        Context label(std::to_string(entry) + "+" + std::to_string(field) + "=" +
                      std::to_string(value));
        Hive hive = original;
        regf::WriteDword(Bytes(hive.log2, entry + field), value);
        Rehash(hive.log2, entry);
        LogReplay replay;
        REQUIRE(Replay(hive, folder, &replay) == ERROR_SUCCESS);
        CHECK(replay.entries <= 4);
        DWORD end = 0;
        for (size_t i = 0; i < replay.runs.size(); ++i) {
            CHECK(replay.runs[i].offset >= end && replay.runs[i].size > 0);
            end = replay.runs[i].offset + replay.runs[i].size;
        }
        CHECK(end <= replay.binsDataSize);
        if (replay.recovered) CHECK(Image(replay, folder / L"HIVE").size() > 4096);
    }
}
