// The project's own writer of hives of Windows' shape (bench/realistic_hive.h):
// the files it writes for the other tests, and their logs replayed.
#include "hive/log_files.h"
#include "hive/log_replay.h"
#include "realistic_hive.h"
#include "support/support.h"

namespace {

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
