// The pure rules, as tables: options, roots, the service's command line,
// retention names and ages, profile names, names from listings, location
// texts, joins, reparse data, folder security, a rename that waits for a
// scanner, and a copy that fails midway.
#include <windows.h>

#include <limits.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <string.h>

#include "app/command_line.h"
#include "backup/reparse_point.h"
#include "backup/retention.h"
#include "backup/sid_name.h"
#include "backup/unchanged_links.h"
#include "backup/work_folder.h"
#include "fs/secure_folder.h"
#include "hive/hive_copy.h"
#include "service/daily_schedule.h"
#include "service/service_command_line.h"
#include "shared/entry_name.h"
#include "shared/file_copy.h"
#include "shared/folder_argument.h"
#include "shared/location_text.h"
#include "shared/path_join.h"
#include "shared/platform.h"
#include "state/run_state.h"
#include "support/support.h"

namespace {

TEST(DaysValues) {
    const int refused = 12345;  // what a refusal leaves in place
    const struct {
        const wchar_t* text;
        int days;
    } cases[] = {{L"+7", 7},        {L"-3", -3},       {L"99999999999", INT_MAX},
                 {L"", refused},    {L"abc", refused}, {L"-99999999999", INT_MIN},
                 {L"15x", refused}, {L" 5", refused},  {L"-", refused}};
    for (const auto& c : cases) {
        int days = refused;
        const bool taken = ReadDaysValue(c.text, &days);
        CHECK_EQ(Narrow(c.text) + ": " + std::to_string(c.days),
                 Narrow(c.text) + ": " + std::to_string(taken ? days : refused));
    }
}

TEST(CanonicalRoots) {
    const struct {
        std::wstring given, root;
        DWORD error = 0;
    } cases[] = {
        {L"C:\\a. \\bk.", L"C:\\a\\bk"},
        {L"\\\\?\\UNC\\server\\share\\bk\\", L"\\\\server\\share\\bk"},
        {L"D:", L"D:\\"},
        {L"", L"", ERROR_INVALID_PARAMETER},
        {L"C:\\b*k", L"", ERROR_INVALID_PARAMETER},
        {L"\\\\.\\PhysicalDrive0", L"", ERROR_INVALID_PARAMETER},
        {L"C:\\" + std::wstring(4100, L'a'), L"", ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& c : cases) {
        Context row(c.given.substr(0, 40));
        wchar_t root[RootPathCapacity] = L"";
        CHECK_EQ(c.error, MakeCanonicalRoot(c.given.c_str(), root, ARRAYSIZE(root)));
        CHECK_EQ(c.root, std::wstring(root));
    }
}

// The installed line must hand both paths back to zel's own argument reading
// exactly, and never hold what the service control manager would expand.
TEST(ServiceCommandLine) {
    AtEnd restore{[module = std::wstring(ModuleDir), root = std::wstring(BackupRoot)] {
        wcscpy_s(ModuleDir, module.c_str());
        wcscpy_s(BackupRoot, root.c_str());
        RetentionDays = 15;
    }};
    const struct {
        std::wstring module, root;
        DWORD error = 0;
        DailySchedule daily = {};
        std::wstring dailyOption = L"";
    } cases[] = {
        {L"C:\\My Tools", L"D:\\"},
        {L"C:\\T", L"\\\\server\\share\\zel bk", 0, {true, false, 0}, L"/daily"},
        {L"C:\\T", L"C:\\p\\", 0, {true, true, 7 * 60 + 5}, L"/daily:07:05"},
        {L"C:\\T", L"C:\\p%USERNAME%x", ERROR_INVALID_PARAMETER},
        {L"C:\\T", L"C:\\" + std::wstring(2100, L'x'), ERROR_FILENAME_EXCED_RANGE},
    };
    RetentionDays = 30;
    for (const auto& c : cases) {
        Context row(c.root.substr(0, 40));
        wcscpy_s(ModuleDir, c.module.c_str());
        wcscpy_s(BackupRoot, c.root.c_str());
        wchar_t line[SystemTextCapacity];
        SetLastError(0);
        const bool composed = ComposeServiceCommandLine(c.daily, line, ARRAYSIZE(line));
        CHECK_EQ(c.error, composed ? DWORD(0) : GetLastError());
        int count = 0;
        LPWSTR* args = composed ? CommandLineToArgvW(line, &count) : nullptr;
        if (!args) continue;
        std::vector<std::wstring> expected = {c.module + L"\\zel.exe", L"/service", L"/days:30"};
        if (!c.dailyOption.empty()) expected.push_back(c.dailyOption);
        expected.push_back(c.root);
        CHECK_EQ(expected, std::vector<std::wstring>(args, args + count));
        LocalFree(args);
    }
}

// When a daily service's next backup is due, whatever its clock does.
TEST(DailyScheduleRules) {
    const struct {
        const wchar_t* text;
        bool taken;
        int minute;
    } options[] = {{L"", true, 0},         {L":00:00", true, 0},  {L":23:59", true, 1439},
                   {L":7:30", false, 0},   {L":24:00", false, 0}, {L":12:60", false, 0},
                   {L":12:30x", false, 0}, {L"x", false, 0},      {L":1230", false, 0}};
    for (const auto& c : options) {
        Context row(c.text);
        DailySchedule schedule{false, false, -1};
        CHECK_EQ(c.taken, ReadDailyOption(c.text, &schedule));
        CHECK_EQ(c.taken ? c.minute : -1, schedule.minute);
        CHECK_EQ(c.taken, schedule.daily);
    }
    // The delay is the machine's own, the same however its name is typed.
    const int delay = MachineDelayMinutes(L"PC042");
    CHECK(delay >= 0 && delay < 60 && delay == MachineDelayMinutes(L"pc042"));
    CHECK(MachineDelayMinutes(L"PC043") != delay || MachineDelayMinutes(L"PC044") != delay);

    const DWORD last = 20261207;  // the day of the last run
    auto at = [](WORD year, WORD month, WORD day, WORD hour, WORD minute) {
        SYSTEMTIME time{};
        time.wYear = year, time.wMonth = month, time.wDay = day;
        time.wHour = hour, time.wMinute = minute;
        return time;
    };
    const struct {
        SYSTEMTIME now;
        int minute;
        bool due;
    } times[] = {
        {at(2026, 12, 7, 23, 59), 0, false},  // the same day: never a second backup
        {at(2026, 12, 8, 0, 0), 0, true},     // the day changed, the time is reached
        {at(2026, 12, 8, 0, 29), 30, false},  // the day changed, the minute not yet
        {at(2026, 12, 8, 0, 30), 30, true},
        {at(2026, 12, 11, 9, 0), 120, true},  // days missed while asleep: made at once
        {at(2027, 1, 1, 0, 5), 5, true},      // a new year
        {at(2026, 12, 6, 23, 0), 0, false},   // a clock moved back
        {at(2025, 12, 31, 12, 0), 0, false},
    };
    for (const auto& c : times) {
        Context row(std::to_string(DayNumber(c.now)) + " " + std::to_string(c.now.wHour) + ":" +
                    std::to_string(c.now.wMinute) + " minute " + std::to_string(c.minute));
        CHECK_EQ(c.due, IsBackupDue(c.now, last, c.minute));
    }
}

TEST(RetentionNamesAndAges) {
    CHECK(IsDatedFolderName(L"2024-05-01") && IsDatedFolderName(L"0000-00-00"));
    for (const wchar_t* name : {L"2024-5-1", L"2024-05-01x", L"2024-05-0", L"2024_05_01",
                                L"2024-05-01.partial", L"\uff12024-05-01", L"x024-05-01"}) {
        Context row(name);
        CHECK(!IsDatedFolderName(name));
    }
    const ULONGLONG day = 86400ULL * 10000000, nowValue = 400 * day;
    const FILETIME now{static_cast<DWORD>(nowValue), static_cast<DWORD>(nowValue >> 32)};
    const struct {
        double ageDays;
        int days;
        bool old;
    } cases[] = {
        {15, 15, false},  {15 + 1.0 / 86400, 15, true},
        {20, 15, true},   {0.5, 0, true},
        {0, 0, false},    {-1, 0, false},
        {-0.5, -1, true}, {-2, -1, false},
    };
    for (const auto& c : cases) {
        Context row(std::to_string(c.ageDays) + " days old, /days:" + std::to_string(c.days));
        const ULONGLONG created = nowValue - static_cast<LONGLONG>(c.ageDays * day);
        CHECK_EQ(c.old,
                 IsOlderThanRetention(
                     now, FILETIME{static_cast<DWORD>(created), static_cast<DWORD>(created >> 32)},
                     c.days));
    }
}

TEST(NamesFromListingsAndLocationTexts) {
    CHECK(IsSingleName(L"a b.x") && IsSingleName(L"..x") && !IsSingleName(L"") &&
          !IsSingleName(L".."));
    CHECK(!IsSingleName(L"a/b") && !IsSingleName(L"..\\..") && !IsSingleName(L"a:b"));
    // The first two are taken; each other one could lead outside the root.
    const wchar_t* texts[] = {L"\\Windows\\system32",
                              L"\\Users\\A B\\NTUSER.DAT",
                              L"",
                              L"x\\y",
                              L"\\..\\..\\x",
                              L"C:\\x",
                              L"\\\\?\\C:\\x",
                              L"\\a/b",
                              L"\\a\\...",
                              L"\\a\\\\b",
                              L"\\a\\*"};
    for (size_t i = 0; i < ARRAYSIZE(texts); ++i) {
        Context row(texts[i]);
        CHECK_EQ(i < 2, IsContainedLocation(texts[i]));
    }
}

// Every SID Windows writes passes; every other profile key name is refused.
TEST(ProfileNamesShapedLikeSids) {
    for (const wchar_t* sid :
         {L"S-1-5-21-1004336348-1177238915-682003330-1001", L"s-1-5-18", L"S-1-5",
          L"S-1-12-1-4294967295-1-2-3", L"S-1-0x123456789ABC-1", L"S-1-5-21-1-2-3-1001.BaK"}) {
        Context row(sid);
        CHECK(LooksLikeSid(sid));
    }
    for (const wchar_t* name :
         {L"C:", L"..", L"../../x", L"", L"S-1-5-21-A-B-C-1001", L"S-1-5-", L"S-1--5", L"S-2-5-18",
          L"S-1-5-4294967296", L"S-1-5-18.bak.x", L"S-1-0x12345-1", L"S-1-5-18\\..",
          L"S-1-5-1-1-1-1-1-1-1-1-1-1-1-1-1-1-1-1"}) {
        Context row(name);
        CHECK(!LooksLikeSid(name));
    }
}

std::vector<DWORD> RenameErrors;  // what the first renames fail with; ERROR_SUCCESS lets one by
size_t Renames = 0;
BOOL WINAPI BusyRename(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (Renames++ >= RenameErrors.size() || RenameErrors[Renames - 1] == ERROR_SUCCESS)
        return MoveFileExW(from, to, flags);
    SetLastError(RenameErrors[Renames - 1]);
    return FALSE;
}

// A scanner holds a file of the finished folder for a while: the rename
// waits for it; a failure that waiting cannot mend is not retried, and when
// the new backup cannot take its place, today's goes back under its name.
TEST(FinalRenameWaitsForAScanner) {
    ScratchFolder scratch(L"zelrename");
    const std::wstring work = scratch / L"2026-12-06.partial", dated = scratch / L"2026-12-06",
                       aside = scratch / L"2026-12-06.replaced";
    REQUIRE(WriteFileBytes(work + L"\\sysdir.txt", "new"));
    REQUIRE(WriteFileBytes(dated + L"\\sysdir.txt", "old"));
    SwapCall busy(Platform.moveFolder, BusyRename);
    RenameErrors = {ERROR_WRITE_PROTECT};
    CHECK_EQ(DWORD(ERROR_WRITE_PROTECT), PlaceBackup(work.c_str(), dated.c_str(), aside.c_str()));
    CHECK_EQ(1u, Renames);
    RenameErrors = {ERROR_SUCCESS, ERROR_WRITE_PROTECT};
    Renames = 0;
    CHECK_EQ(DWORD(ERROR_WRITE_PROTECT), PlaceBackup(work.c_str(), dated.c_str(), aside.c_str()));
    CHECK_EQ(std::string("old"), ReadFileBytes(dated + L"\\sysdir.txt"));
    CHECK(!FolderExists(aside) && FolderExists(work));
    RenameErrors = {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION};
    Renames = 0;
    CHECK_EQ(DWORD(ERROR_SUCCESS), PlaceBackup(work.c_str(), dated.c_str(), aside.c_str()));
    CHECK_EQ(5u, Renames);  // three refused, then aside and into place
    CHECK_EQ((Names{L"2026-12-06\\", L"2026-12-06\\sysdir.txt"}), ListTree(scratch.path()));
    CHECK_EQ(std::string("new"), ReadFileBytes(dated + L"\\sysdir.txt"));
}

// Joins must give what the shell's PathAppendW gives for what zel joins.
TEST(JoinsMatchPathAppend) {
    const std::wstring fits(254, L'x'), over(255, L'x');  // 259 characters fit, 260 do not
    const wchar_t* cases[][2] = {
        {L"C:\\", L"2026-12-06"},
        {L"C:", L"x"},
        {L"\\\\s\\share", L"zel"},
        {L"C:\\P\\", L"\\Microsoft\\Windows\\UsrClass.dat"},
        {L"C:\\a\\b", L"..\\x"},
        {L"C:\\a", L"D:\\x"},
        {L"", L"x"},
        {L"C:\\a", L"x\\.\\y\\"},
        {L"\\\\?\\C:\\a", L"x"},
        {L"C:\\a", fits.c_str()},
        {L"C:\\a", over.c_str()},
    };
    for (const auto& c : cases) {
        Context row(std::wstring(c[0]) + L" + " + std::wstring(c[1]).substr(0, 20));
        wchar_t expected[MAX_PATH * 2], ours[MAX_PATH * 2];
        wcscpy_s(expected, c[0]);
        wcscpy_s(ours, c[0]);
        CHECK_EQ(PathAppendW(expected, c[1]) != FALSE, JoinPath(ours, ARRAYSIZE(ours), c[1]));
        if (expected[0]) CHECK_EQ(std::wstring(expected), std::wstring(ours));
    }
    wchar_t small[8] = L"C:\\a";
    CHECK(!JoinPath(small, ARRAYSIZE(small), L"long name") && std::wstring(small) == L"C:\\a");
}

// Reparse data as the platform returns it, checked at the end of a page so
// that reading one byte past it faults.
std::string ReparseData(DWORD tag, const std::wstring& print, DWORD flags = 0) {
    std::string names = Utf16Bytes(L"\\??\\sub") + std::string(2, '\0') + Utf16Bytes(print);
    std::string bytes(reinterpret_cast<const char*>(&tag), 4);
    const bool link = tag == IO_REPARSE_TAG_SYMLINK;
    WORD fields[] = {static_cast<WORD>((link ? 12 : 8) + names.size()),
                     0,
                     0,
                     14,
                     16,
                     static_cast<WORD>(print.size() * 2)};
    bytes.append(reinterpret_cast<const char*>(fields), sizeof(fields));
    if (link) bytes.append(reinterpret_cast<const char*>(&flags), 4);
    return bytes + names;
}

TEST(ReparseDataBounds) {
    const DWORD junction = IO_REPARSE_TAG_MOUNT_POINT, link = IO_REPARSE_TAG_SYMLINK;
    const struct {
        std::string bytes;
        const wchar_t* result;
    } cases[] = {
        {ReparseData(junction, L"C:\\Users\\A\\AppData\\Local"), L"C:\\USERS\\A\\APPDATA\\LOCAL"},
        {ReparseData(link, L"D:\\P\\Bob"), L"D:\\P\\BOB"},
        {ReparseData(link, L"AppData\\Local", SYMLINK_FLAG_RELATIVE), L"C:\\U\\AppData\\Local"},
        {ReparseData(junction, L""), L""},
        {ReparseData(IO_REPARSE_TAG_WOF, L"C:\\x"), nullptr},
        {ReparseData(junction, L"C:\\x").substr(0, 12), nullptr},
        {ReparseData(link, L"C:\\x").substr(0, 16), nullptr},
        {ReparseData(junction, L"C:\\target").substr(0, 40), nullptr},
        {ReparseData(junction, L"C:\\" + std::wstring(SystemTextCapacity, L'b')), nullptr},
    };
    BYTE* base = static_cast<BYTE*>(VirtualAlloc(nullptr, 3 * 4096, MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base + 2 * 4096, 4096, PAGE_NOACCESS, &old);
    for (const auto& c : cases) {
        Context row(c.result ? c.result : L"(refused)");
        wchar_t path[SystemTextCapacity] = L"C:\\U\\Local Settings";
        BYTE* data = base + 2 * 4096 - c.bytes.size();
        memcpy(data, c.bytes.data(), c.bytes.size());
        CHECK_EQ(c.result != nullptr, DecodeReparseTarget(data, static_cast<DWORD>(c.bytes.size()),
                                                          path, SystemTextCapacity));
        CHECK_EQ(std::wstring(c.result ? c.result : L"C:\\U\\Local Settings"), std::wstring(path));
    }
    VirtualFree(base, 0, MEM_RELEASE);
}

std::wstring Recorded;
BOOL WINAPI RecordFolderSecurity(LPCWSTR, LPSECURITY_ATTRIBUTES attributes) {
    LPWSTR text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(attributes->lpSecurityDescriptor,
                                                         SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                         &text, nullptr);
    Recorded = text ? text : L"";
    LocalFree(text);
    return TRUE;
}

// Wine keeps no DACL, so the descriptor is read where it is handed over.
TEST(ProtectedFolderSecurity) {
    SwapCall recorder(Platform.createDirectory, RecordFolderSecurity);
    CHECK(CreateProtectedDirectory(L"C:\\never-made"));
    CHECK_EQ(std::wstring(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)"), Recorded);
}

BOOL WINAPI RefuseLinks(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

// A file of a new backup becomes a link only to the same bytes at the same
// place in the newest earlier backup that holds one there.
TEST(UnchangedFilesAreLinked) {
    ScratchFolder scratch(L"zellinks");
    const std::wstring older = scratch / L"2026-01-01", newer = scratch / L"2026-01-02";
    const struct {
        const wchar_t* name;
        const char* older;  // in each earlier backup, or nullptr
        const char* newer;
        const char* now;
        const wchar_t* linkedTo;  // or nullptr: a copy of its own
        bool copied;              // linked, or else copied, on its way in from a live file
    } files[] = {
        {L"same", nullptr, "same bytes", "same bytes", L"2026-01-02", false},
        {L"S-1-5-21-1\\NTUSER.DAT", "regf", "regf", "regf", L"2026-01-02", true},
        {L"onlyOlder", "kept", nullptr, "kept", L"2026-01-01", false},
        {L"sizeOnly", nullptr, "12345", "54321", nullptr, true},
        {L"shadowed", "was", "new", "was", nullptr, false},  // the newest one that holds it decides
        {L"COMPONENTS.bad", nullptr, "bad", "bad", nullptr, false},
        {L"backup.log", nullptr, "log", "log", nullptr, false},
    };
    for (const std::wstring& earlier : {older, newer}) {
        REQUIRE(WriteFileBytes(earlier + L"\\sysdir.txt", "x"));
        for (const auto& file : files) {
            const char* bytes = earlier == older ? file.older : file.newer;
            if (bytes) REQUIRE(WriteFileBytes(earlier + L"\\" + file.name, bytes));
        }
    }
    REQUIRE(AgeFolder(older, 2) && AgeFolder(newer, 1));
    for (bool refused : {false, true}) {
        Context row(refused ? "a volume without links" : "links");
        const std::wstring work = scratch / (refused ? L"refused.partial" : L"work.partial");
        ULONGLONG whole = 0;
        BackupSpace space;
        {
            SwapCall volume(Platform.createHardLink,
                            refused ? RefuseLinks : Platform.createHardLink);
            LinkSources sources;
            FindEarlierBackups(scratch.path().c_str(), &sources);
            CreateDirectoryW(work.c_str(), nullptr);
            CreateDirectoryW((work + L"\\S-1-5-21-1").c_str(), nullptr);
            for (const auto& file : files) {
                const std::wstring path = work + L"\\" + file.name, live = scratch / L"live";
                whole += strlen(file.now);
                if (!file.copied) {
                    REQUIRE(WriteFileBytes(path, file.now));
                    continue;
                }
                REQUIRE(WriteFileBytes(live, file.now));
                const bool linked =
                    LinkUnchangedSource(&sources, live.c_str(), file.name, path.c_str());
                CHECK_EQ(file.linkedTo && !refused, linked);
                if (!linked) REQUIRE(CopyFileW(live.c_str(), path.c_str(), FALSE));
            }
            LinkUnchangedFiles(&sources, work.c_str(), &space);
        }
        for (const auto& file : files) {
            Context name(file.name);
            const bool linked = file.linkedTo && !refused;
            CHECK_EQ(std::string(file.now), ReadFileBytes(work + L"\\" + file.name));
            CHECK_EQ(linked ? 2u : 1u, LinkCount(work + L"\\" + file.name));
        }
        CHECK_EQ(refused ? 0u : 3u, space.linkedFiles);
        CHECK_EQ(DWORD(refused ? ERROR_NOT_SUPPORTED : ERROR_SUCCESS), space.linkError);
        CHECK_EQ(whole, space.wholeBytes);
        CHECK_EQ(whole - (refused ? 0 : strlen("same bytes") + strlen("regf") + strlen("kept")),
                 space.ownBytes);
    }
}

int ReadsBeforeFailure = 0;
bool EndsEarly = false;  // the source shrank: the read comes short, without an error
BOOL WINAPI FailingRead(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read,
                        LPOVERLAPPED overlapped) {
    if (ReadsBeforeFailure-- > 0) return ReadFile(file, buffer, bytes, read, overlapped);
    if (EndsEarly) return ReadFile(file, buffer, bytes / 2, read, overlapped);
    SetLastError(ERROR_CRC);
    return FALSE;
}

// A copy that fails midway leaves no partial file where a hive was expected,
// chunk by chunk or read whole (a hive's copy). A source that shrank fails as
// such, not with the "already exists" its target's creation left behind.
TEST(CopyFailingMidwayLeavesNoPartialFile) {
    ScratchFolder scratch(L"zelcopy");
    const std::wstring source = scratch / L"SAM", target = scratch / L"copy";
    REQUIRE(WriteFileBytes(source, std::string(300000, 's')));
    HiveCheckResult verdict;
    DWORD logs = 0;
    const std::function<DWORD()> roads[] = {
        [&] { return CopyFileBytes(source.c_str(), target.c_str()); },
        [&] { return CopyAndCheckHive(nullptr, source.c_str(), target.c_str(), &verdict, &logs); }};
    for (const auto& copy : roads) {
        for (const DWORD failure : {DWORD(ERROR_CRC), DWORD(ERROR_HANDLE_EOF)}) {
            Context row(Show(failure));
            REQUIRE(copy() == ERROR_SUCCESS);
            CHECK_EQ(std::string(300000, 's'), ReadFileBytes(target));
            ReadsBeforeFailure = 1;
            EndsEarly = failure == ERROR_HANDLE_EOF;
            SwapCall failing(Platform.readFile, FailingRead);
            CHECK_EQ(failure, copy());
            CHECK(!FileExists(target));
        }
    }
}

// A copy replaces a target marked read-only and hidden (Windows refuses to
// overwrite such a file), and the copy keeps none of its marks.
TEST(CopyReplacesAMarkedTarget) {
    ScratchFolder scratch(L"zelmarked");
    const std::wstring source = scratch / L"NTUSER.DAT", target = scratch / L"copy";
    REQUIRE(WriteFileBytes(source, "new bytes"));
    REQUIRE(WriteFileBytes(target, "old bytes, longer"));
    REQUIRE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    CHECK_EQ(DWORD(ERROR_SUCCESS), CopyFileBytes(source.c_str(), target.c_str()));
    CHECK_EQ(std::string("new bytes"), ReadFileBytes(target));
    CHECK_EQ(DWORD(0), GetFileAttributesW(target.c_str()) &
                           (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

}  // namespace
