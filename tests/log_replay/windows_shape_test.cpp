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
// log longer than the window the replay reads through.
TEST(WrittenLogsReplayToTheirRecoveredFiles) {
    ScratchFolder scratch(L"shaped");
    for (const std::wstring folder : {L"new", L"old"}) {
        Context row(folder);
        const std::wstring primary = Shaped(folder + L"\\HIVE");
        LogReplay replay;
        REQUIRE(ReplayHiveLogs(primary.c_str(), &replay) == ERROR_SUCCESS);
        CHECK(replay.dirty && replay.recovered);
        CHECK_EQ(folder == L"old", replay.oldFormat);
        const size_t log1 = ReadFileBytes(primary + L".LOG1").size();
        CHECK(log1 > WindowBytes);
        const DWORD pages = static_cast<DWORD>(log1 / 512 - 2);
        CHECK_EQ(folder == L"old" ? pages : 4, replay.entries);
        CHECK_EQ(std::wstring(), std::wstring(replay.stopped));
        const std::wstring image = scratch / (folder + L".image");
        REQUIRE(WriteRecoveredImage(replay, primary.c_str(), image.c_str()) == ERROR_SUCCESS);
        CHECK(ReadFileBytes(image) ==
              ReadFileBytes(Shaped(folder + L"\\RECOVERED")).substr(0, 4096 + replay.binsDataSize));
    }
}
