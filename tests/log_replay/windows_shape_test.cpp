// The project's own writer of hives of Windows' shape (bench/realistic_hive.h):
// the files it writes for the other tests, their logs replayed, and the rules
// of Windows' files it follows, which its files keep always and Windows' own
// keep too when they are here.
#include "hive/log_files.h"
#include "hive/log_replay.h"
#include "hive/marvin32.h"
#include "hive/regf_layout.h"
#include "realistic_hive.h"
#include "support/support.h"

namespace {

const BYTE* At(const std::string& bytes, size_t at) {
    return reinterpret_cast<const BYTE*>(bytes.data() + at);
}
DWORD Dword(const std::string& bytes, size_t at) {
    return at + 4 <= bytes.size() ? regf::ReadDword(At(bytes, at)) : 0;
}
bool HashRight(const std::string& log, size_t from, size_t count, size_t hash) {
    return Marvin32Hash(At(log, from), count, regf::LogEntryHashSeed) ==
           regf::ReadQword(At(log, hash));
}

// What the hive at `primary` and its logs are (clean or dirty, each log's
// format), then each rule of Windows' files that the writer follows which
// they, or `recovered` (the hive after its logs, as Windows wrote it), break.
Strings Rules(const std::wstring& primary, const std::wstring& recovered) {
    using namespace regf;
    const std::string hive = ReadFileBytes(primary), after = ReadFileBytes(recovered);
    Strings rules;
    const auto rule = [&](const std::string& text, bool kept) {
        if (!kept) rules.push_back("broken: " + text);
    };
    const DWORD bins = Dword(hive, BinsDataSizeOffset), minor = Dword(hive, MinorVersionOffset);
    const DWORD sequence = Dword(hive, PrimarySequenceOffset);
    DWORD expected = Dword(hive, SecondarySequenceOffset);
    rule("grown in 256 KiB steps, slack after the bins",
         hive.size() % 0x40000 == 0 && hive.size() > BaseBlockBytes + bins);
    rule("regf 1.3 to 1.5, a primary file, format 1, clustering 1, checksum right",
         hive.compare(0, 4, "regf") == 0 && Dword(hive, MajorVersionOffset) == 1 && minor >= 3 &&
             minor <= 5 && Dword(hive, FileTypeOffset) == FileTypePrimary &&
             Dword(hive, FileFormatOffset) == 1 && Dword(hive, ClusteringFactorOffset) == 1 &&
             BaseBlockChecksumRight(At(hive, 0)));
    rules.push_back(sequence == expected ? "clean" : "dirty");
    rule("a dirty hive's primary sequence number one on", sequence - expected <= 1);
    bool newFormat = false;
    for (const wchar_t* suffix : {L".LOG1", L".LOG2"}) {
        const std::string log = ReadFileBytes(primary + suffix), name = Narrow(suffix);
        if (log.empty()) {
            rules.push_back(name + " empty");
            continue;
        }
        const DWORD type = Dword(log, FileTypeOffset), logSequence = Dword(log, 4);
        rules.push_back(name + (type == FileTypeLogNew ? " new" : " old"));
        std::string sector = hive.substr(0, LogSectorBytes);
        BYTE* bytes = reinterpret_cast<BYTE*>(&sector[0]);
        WriteDword(bytes + PrimarySequenceOffset, logSequence);
        WriteDword(bytes + SecondarySequenceOffset, logSequence);
        WriteDword(bytes + FileTypeOffset, type);
        WriteDword(bytes + ChecksumOffset, BaseBlockChecksum(bytes));
        rule(name + ": the primary's first sector with the log's sequence number and file type",
             log.compare(0, LogSectorBytes, sector) == 0);
        if (type == FileTypeLogNew) {
            newFormat = true;
            bool whole = logSequence == expected;
            size_t at = LogSectorBytes;
            for (; whole && log.compare(at, 4, "HvLE") == 0; at += Dword(log, at + 4)) {
                const DWORD size = Dword(log, at + LogEntrySizeOffset);
                whole = size % LogEntryAlignment == 0 && size >= LogEntryHeaderBytes &&
                        at + size <= log.size() &&
                        Dword(log, at + LogEntrySequenceOffset) == expected++ &&
                        Dword(log, at + LogEntryBinsSizeOffset) == bins &&
                        HashRight(log, at, LogEntryHash2Offset, at + LogEntryHash2Offset) &&
                        HashRight(log, at + LogEntryHeaderBytes, size - LogEntryHeaderBytes,
                                  at + LogEntryHash1Offset);
                for (DWORD page = 0; whole && page < Dword(log, at + LogEntryPageCountOffset);
                     ++page) {
                    const size_t reference = at + LogEntryHeaderBytes + 8 * page;
                    whole = Dword(log, reference) % 4096 == 0 && Dword(log, reference + 4) > 0 &&
                            Dword(log, reference + 4) % 4096 == 0;
                }
            }
            rule(name + ": entries numbered on from the hive's, of whole 4 KiB pages, hashes right",
                 whole && at > LogSectorBytes);
        } else {
            const size_t vector = LogSectorBytes + DirtyVectorHeaderBytes + bins / 4096;
            size_t dirty = 0;
            bool whole = log.compare(LogSectorBytes, 4, "DIRT") == 0;
            for (size_t at = LogSectorBytes + DirtyVectorHeaderBytes; at < vector; ++at) {
                const BYTE bits = at < log.size() ? log[at] : 1;
                whole = whole && (bits == 0 || bits == 0xFF);
                dirty += bits ? 8 : 0;
            }
            const size_t pagesAt = (vector + LogSectorBytes - 1) / LogSectorBytes * LogSectorBytes;
            rule(name + ": old format, the primary's sequence number",
                 type == FileTypeLog && logSequence == sequence);
            rule(name + ": DIRT vector, dirty pages in whole 4 KiB, 512 bytes each after it",
                 whole && log.size() == pagesAt + dirty * OldLogPageBytes);
        }
    }
    if (!after.empty()) rule("recovered: as long as the primary", after.size() == hive.size());
    if (newFormat) {
        rule("recovered: both sequence numbers one past the last entry",
             Dword(after, PrimarySequenceOffset) == expected &&
                 Dword(after, SecondarySequenceOffset) == expected);
    }
    return rules;
}

std::wstring Shaped(const std::wstring& name) { return HiveFile(L"shaped\\" + name); }

}  // namespace

// Run by CTest before the tests that read them (make_shaped_hives).
TEST(ChildWriteShapedHives) {
    RemoveTree(Shaped(L""));
    for (const wchar_t* folder : {L"", L"new", L"old"})
        CreateDirectoryW(Shaped(folder).c_str(), nullptr);
    RealisticHive made;
    REQUIRE(WriteRealisticHive(Shaped(L"clean").c_str(), 0, 700, &made));
    for (const std::wstring folder : {L"new", L"old"}) {
        CHECK(WriteDirtyHive(Shaped(folder + L"\\HIVE").c_str(), folder == L"old", 100,
                             Shaped(folder + L"\\RECOVERED").c_str()));
    }
}

// The writer's hives keep every rule; Windows' own keep them too.
TEST(WriterKeepsTheRulesOfWindowsFiles) {
    const Strings clean = {"clean", ".LOG1 empty", ".LOG2 empty"},
                  newDirty = {"dirty", ".LOG1 new", ".LOG2 new"},
                  oldDirty = {"dirty", ".LOG1 old", ".LOG2 empty"};
    CHECK_EQ(clean, Rules(Shaped(L"clean"), L""));
    CHECK_EQ(newDirty, Rules(Shaped(L"new\\HIVE"), Shaped(L"new\\RECOVERED")));
    CHECK_EQ(oldDirty, Rules(Shaped(L"old\\HIVE"), Shaped(L"old\\RECOVERED")));
    if (!HaveWindowsHives()) return;
    for (const wchar_t* name : {L"EmptyHive", L"BigDataHive", L"ManySubkeysHive"})
        CHECK_EQ(clean, Rules(WindowsHive(name), L""));
    CHECK_EQ(newDirty, Rules(WindowsHive(L"NewDirtyHive1\\NewDirtyHive"),
                             WindowsHive(L"NewDirtyHive1\\RecoveredHive_Windows10")));
    CHECK_EQ(oldDirty, Rules(WindowsHive(L"OldDirtyHive\\OldDirtyHive"),
                             WindowsHive(L"OldDirtyHive\\RecoveredHive_Windows7")));
}

// The writer's dirty hives replay to the files it says their logs make, each
// log longer than the window the replay reads through; an entry damaged in
// .LOG2 stops the replay before it.
TEST(WrittenLogsReplayToTheirRecoveredFiles) {
    ScratchFolder scratch(L"shaped");
    for (const std::wstring folder : {L"new", L"old", L"damaged"}) {
        Context row(folder);
        std::wstring primary = Shaped(folder + L"\\HIVE");
        if (folder == L"damaged") {
            primary = scratch / L"HIVE";
            for (const std::wstring suffix : {L"", L".LOG1", L".LOG2"})
                WriteFileBytes(primary + suffix, ReadFileBytes(Shaped(L"new\\HIVE" + suffix)));
            std::string log = ReadFileBytes(primary + L".LOG2");
            log.back() ^= 1;
            WriteFileBytes(primary + L".LOG2", log);
        }
        LogReplay replay;
        REQUIRE(ReplayHiveLogs(primary.c_str(), &replay) == ERROR_SUCCESS);
        CHECK(replay.dirty && replay.recovered);
        CHECK_EQ(folder == L"old", replay.oldFormat);
        const size_t log1 = ReadFileBytes(primary + L".LOG1").size();
        CHECK(log1 > WindowBytes);
        const DWORD pages = static_cast<DWORD>(log1 / 512 - 2);
        CHECK_EQ(folder == L"old" ? pages : folder == L"new" ? 4 : 3, replay.entries);
        CHECK_EQ(
            std::wstring(folder == L"damaged" ? L"log entry 5 in .LOG2 has a wrong Hash-1" : L""),
            std::wstring(replay.stopped));
        const std::wstring image = scratch / (folder + L".image");
        REQUIRE(WriteRecoveredImage(replay, primary.c_str(), image.c_str()) == ERROR_SUCCESS);
        if (folder != L"damaged") {
            CHECK(ReadFileBytes(image) == ReadFileBytes(Shaped(folder + L"\\RECOVERED"))
                                              .substr(0, 4096 + replay.binsDataSize));
        }
    }
}
