// zel.exe run as a child under Wine: everything one run shows, from the
// command line to the bytes of the day's backup folder.
#include <stdlib.h>

#include "app/startup.h"
#include "backup/dated_run.h"
#include "fs/secure_folder.h"
#include "hive/regf_layout.h"
#include "shared/file_identity.h"
#include "shared/privileges.h"
#include "state/run_state.h"
#include "support/support.h"

namespace {

const std::string Banner = Narrow(L"ZEL - " VERSION_BANNER);
const Strings Usage = {
    "Syntax: zel.exe[options] backup_path", "/i - install as a service", "/u - uninstall service",
    "/days:n - delete backup folders older than n days(default: 15)",
    "/daily[:HH:MM] - the service stays and makes each day's backup (only with /i)"};
const std::wstring ProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring HiveList = L"SYSTEM\\CurrentControlSet\\Control\\hivelist";
const std::wstring ConfigFolder = SystemDirectory() + L"\\CONFIG";
const wchar_t* const Tools[] = {L"revert.exe", L"tidy.exe", L"revert_x64.exe", L"tidy_x64.exe"};

bool SameFile(const std::wstring& a, const std::wstring& b) {
    FileIdentity first{}, second{};
    return IdentifyPath(a.c_str(), &first) == ERROR_SUCCESS &&
           IdentifyPath(b.c_str(), &second) == ERROR_SUCCESS && SameIdentity(first, second);
}

std::string Saved(const std::wstring& hive) {
    return "Backup of " + Narrow(hive) + " successfully completed";
}
std::string Failed(const std::wstring& hive, DWORD code) {
    return ReportLine("Saving error " + Narrow(hive) + " ", code);
}
template <class T>
std::vector<T> Join(std::vector<T> first, const std::vector<T>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}
// Quoted for the runtime's argument splitting: a backslash before the
// closing quote is doubled, or it would escape the quote.
std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + (text.back() == L'\\' ? L"\\\"" : L"\"");
}

// The lines of a run into `root`: the machine hives this Wine lacks fail,
// then the profiles in the order the registry lists them (the prefix's own
// user is loaded; `extra` gives the lines of profiles a test added).
Strings RunLines(const std::wstring& root, bool drivers, bool components,
                 const std::map<std::wstring, Strings>& extra = {}, Strings machine = {}) {
    if (machine.empty()) {
        machine = {Failed(L"BCD", ERROR_FILE_NOT_FOUND),
                   Saved(L"SYSTEM"),
                   Saved(L"SOFTWARE"),
                   Saved(L"DEFAULT"),
                   Failed(L"SAM", ERROR_PATH_NOT_FOUND),
                   Failed(L"SECURITY", ERROR_PATH_NOT_FOUND)};
        if (drivers) machine.push_back(Failed(L"DRIVERS", ERROR_PATH_NOT_FOUND));
        if (components) machine.push_back(Failed(L"COMPONENTS", ERROR_PATH_NOT_FOUND));
    }
    Strings lines = Join({Banner, Narrow(root)}, machine);
    KeyHandle list;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileList.c_str(), 0, KEY_READ, list.put());
    wchar_t sid[256];
    for (DWORD i = 0; list && RegEnumKeyW(list.get(), i, sid, ARRAYSIZE(sid)) == 0; ++i) {
        if (extra.count(sid)) lines = Join(lines, extra.at(sid));
        for (const std::wstring& key : {Upper(sid), Upper(sid) + L"_Classes"})
            if (!extra.count(sid) && KeyExists(HKEY_USERS, key)) lines.push_back(Saved(key));
    }
    return lines;
}

TEST(RefusedCommandLines) {
    ScratchFolder scratch(L"zelusage");
    auto refused = [](const std::string& argument) {
        return Join({ReportLine(argument, ERROR_INVALID_PARAMETER)}, Usage);
    };
    const struct {
        std::wstring arguments;
        Strings lines;
        DWORD exit;
    } cases[] = {
        {L"/?", Usage, 0},
        {L"/DAYS:5", refused("/DAYS:5"), 1},
        {L"/days:15x /i", refused("/days:15x"), 1},
        {L"/service /x", {}, 1},
        // No one waits at a console for tomorrow's backup.
        {L"/daily", refused("/daily"), 1},
        {L"/daily:07:30 /u", refused("/daily:07:30"), 1},
        {L"/i /daily:24:00", refused("/daily:24:00"), 1},
        {L"\"\"", refused("\"\""), 1},
    };
    for (const auto& c : cases) {
        Context row(c.arguments.substr(0, 30));
        ProcessResult run =
            RunZel(Quoted(scratch / L"root") + L" " + c.arguments, scratch.path().c_str());
        CHECK_EQ(c.exit, run.exitCode);
        CHECK_EQ(c.lines, Lines(run.output));
        CHECK_EQ(Names{}, ListTree(scratch.path()));
    }
}

TEST(WholeRunThenOnceADay) {
    REQUIRE(!FolderExists(ConfigFolder));
    const std::wstring sid = L"S-1-5-21-9-9-9-1001", gone = L"s-1-5-21-9-9-9-1004";
    // Names no profile has: joined, the first three would lead out of the
    // backup; the last is one plain name, but no SID.
    const Names hostile = {L"C:", L"..", L"../../x", L"Alice"};
    AtEnd removeAdded{[&] {
        for (const std::wstring& name : Join(hostile, {sid, gone, L"s-1-5-18"}))
            DeleteKeyTree(HKEY_LOCAL_MACHINE, ProfileList + L"\\" + name);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, HiveList.c_str(),
                           L"\\REGISTRY\\MACHINE\\BCD00000000");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"BCD00000000");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\ZelTestMarker");
        RemoveTree(ConfigFolder);
    }};
    ScopedWineVersion version(L"win7");
    ScratchFolder scratch(L"zelrun");
    const std::wstring root = scratch / L"backup", bin = scratch / L"bin",
                       alice = scratch / L"Alice";
    const std::wstring dated = root + L"\\" + TodayFolderName(), exe = bin + L"\\zel.exe";
    const std::wstring classes =
        L"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";
    // Hive files of Windows' shape from the project's writer, slack after
    // their bins: a dirty one with its logs, the same without them (Windows
    // loads it as it is), and one whose root key claims a subkey more than
    // its list holds.
    const std::wstring dirty = HiveFile(L"shaped\\new\\HIVE");
    const std::string good = ReadFileBytes(HiveFile(L"shaped\\clean")),
                      user = ReadFileBytes(HiveFile(L"shaped\\old\\RECOVERED")),
                      security = ReadFileBytes(dirty), log1 = ReadFileBytes(dirty + L".LOG1"),
                      log2 = ReadFileBytes(dirty + L".LOG2");
    std::string broken = good;
    BYTE* base = reinterpret_cast<BYTE*>(&broken[0]);
    const DWORD rootKey = 4096 + regf::ReadDword(base + regf::RootCellOffset);
    ++base[rootKey + regf::KeySubkeyCount];
    // Hives this Wine does not load are copied from CONFIG, their logs beside
    // them; so are the hives of a profile that is not loaded.
    const std::map<std::wstring, std::string> config = {
        {L"SAM", good},          {L"SAM.LOG1", "sam log 1"}, {L"SAM.LOG2", "sam log 2"},
        {L"SECURITY", security}, {L"SECURITY.LOG1", log1},   {L"SECURITY.LOG2", log2},
        {L"COMPONENTS", broken},
    };
    for (const auto& [name, bytes] : config)
        REQUIRE(WriteFileBytes(ConfigFolder + L"\\" + name, bytes));
    for (const auto& [path, bytes] :
         std::map<std::wstring, std::string>{{exe, ReadFileBytes(BuiltProgram())},
                                             {alice + L"\\NTUSER.DAT", user},
                                             {alice + L"\\NTUSER.DAT.LOG1", "user log"},
                                             {alice + classes, security}})
        REQUIRE(WriteFileBytes(path, bytes));
    for (const wchar_t* tool : Tools) WriteFileBytes(bin + L"\\" + tool, "MZ " + Narrow(tool));
    // A boot store in the list of loaded hives, and a marker in SOFTWARE.
    SetStringValue(HKEY_LOCAL_MACHINE, HiveList, L"\\REGISTRY\\MACHINE\\BCD00000000",
                   L"\\Device\\HarddiskVolume1\\Boot\\BCD");
    SetStringValue(HKEY_LOCAL_MACHINE, L"BCD00000000", L"Marker", L"zel-boot-marker");
    SetStringValue(HKEY_LOCAL_MACHINE, L"Software\\ZelTestMarker", L"Marker",
                   L"zel-software-marker");
    // Profiles that are not loaded: one with both hives on disk, one whose
    // folder is gone, and Local System, which is never backed up.
    std::map<std::wstring, Strings> profileLines = {
        {sid, {Saved(sid), Saved(sid + L"_Classes")}}, {gone, {}}, {L"s-1-5-18", {}}};
    for (const std::wstring& name : hostile)
        profileLines[name] = {Failed(name, ERROR_INVALID_NAME)};
    for (const auto& [name, unused] : profileLines)
        REQUIRE(!SetStringValue(HKEY_LOCAL_MACHINE, ProfileList + L"\\" + name, L"ProfileImagePath",
                                name == gone ? scratch / L"Gone" : alice));

    const Strings lines =
        RunLines(root, false, true, profileLines,
                 {Saved(L"BCD"), Saved(L"SYSTEM"), Saved(L"SOFTWARE"), Saved(L"DEFAULT"),
                  Saved(L"SAM"), Saved(L"SECURITY"), Failed(L"COMPONENTS", ERROR_BADDB)});
    ProcessResult run = RunProgram(exe, Quoted(root));
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(lines, Lines(run.output));

    // Every entry of the day's folder, with its bytes ("*" where this Wine's registry writes them).
    const std::string upperAlice = Narrow(Upper(alice).substr(2));
    std::map<std::wstring, std::string> files = {
        {L"BCD", "*"},
        {L"DEFAULT", "*"},
        {L"SOFTWARE", "*"},
        {L"SYSTEM", "*"},
        {L"backup.log", "*"},
        {L"sysdir.txt", Utf16Bytes(L"\\windows\\system32")},
        {L"incomplete.txt", "*"},
        {L"bcd.txt", Utf16Bytes(L"\\\\?\\HARDDISKVOLUME1\\BOOT\\BCD")},
        {sid + L"\\", ""},
        {L"S-1-5-21-9-9-9-1004\\", ""},
        {sid + L"\\NTUSER.DAT", user},
        {sid + L"\\NTUSER.DAT.LOG1", "user log"},
        {sid + L"\\UsrClass.dat", security},
        {sid + L"\\NTUSER.DAT.txt", Utf16Bytes(Widen(upperAlice) + L"\\NTUSER.DAT")},
        {sid + L"\\UsrClass.dat.txt", Utf16Bytes(Widen(upperAlice) + classes)}};
    for (const wchar_t* tool : Tools) files[tool] = "MZ " + Narrow(tool);
    for (const auto& [name, bytes] : config)  // a hive that fails its check is kept as .bad
        files[name == L"COMPONENTS" ? L"COMPONENTS.bad" : name] = bytes;
    for (const std::wstring& entry : ListTree(dated))
        if (entry.rfind(L"S-1-5-21-0-", 0) == 0) files[entry] = "*";  // the prefix's own user
    Names names;
    for (const auto& [name, content] : files) {
        names.push_back(name);
        Context row(name);
        if (content != "*" && name.back() != L'\\')
            CHECK_EQ(content, ReadFileBytes(dated + L"\\" + name));
        // A finished backup is read-only, so no day is changed through a link.
        if (name.back() != L'\\')
            CHECK(GetFileAttributesW((dated + L"\\" + name).c_str()) & FILE_ATTRIBUTE_READONLY);
    }
    CHECK_EQ(names, ListTree(dated));
    CHECK_EQ(Names{TodayFolderName() + L"\\"}, TopEntries(root));
    CHECK(!FileExists(L"C:\\NTUSER.DAT"));
    CHECK(ReadFileBytes(dated + L"\\BCD").find("\"Marker\"=\"zel-boot-marker\"") !=
          std::string::npos);
    CHECK(ReadFileBytes(dated + L"\\SOFTWARE").find("\"Marker\"=\"zel-software-marker\"") !=
          std::string::npos);

    // Wine's own saves pass only for being made under Wine, and the log says so; a copy is
    // checked with the logs it brought. (SaveRoadOnRegf shows the rest of the log.)
    const Strings log = Lines(ReadUtf16Text(dated + L"\\backup.log"));
    for (const char* check : {"Check of SYSTEM passed (the platform's text format)",
                              "Check of SECURITY passed after its logs (4 entries)"})
        CHECK(std::count(log.begin(), log.end(), check) == 1);

    // Later runs that day add nothing and change nothing, however the root
    // is spelled: each spelling names the one folder.
    const size_t entries = ListTree(dated).size();
    SetFileAttributesW((dated + L"\\SYSTEM").c_str(), FILE_ATTRIBUTE_NORMAL);
    REQUIRE(DeleteFileW((dated + L"\\SYSTEM").c_str()));
    std::wstring slashed = root;
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    for (const std::wstring& spelling :
         {root, root + L"\\", slashed, scratch / L"x\\..\\backup", L"\\\\?\\" + root + L". "}) {
        Context row(spelling);
        run = RunProgram(exe, Quoted(spelling));
        CHECK_EQ(0u, run.exitCode);
        CHECK_EQ((Strings{Banner, Narrow(root)}), Lines(run.output));
    }
    CHECK_EQ(entries - 1, ListTree(dated).size());
    CHECK_EQ((Names{L"Alice\\", L"backup\\", L"bin\\"}), TopEntries(scratch.path()));

    // The next day Alice's hive has changed and nothing else has: the new
    // backup holds its own copy of that one, and links to the day before's
    // files for the rest.
    const std::wstring before = root + L"\\2000-01-01";
    REQUIRE(MoveFileW(dated.c_str(), before.c_str()));
    REQUIRE(WriteFileBytes(alice + L"\\NTUSER.DAT", ReadFileBytes(WindowsHive(L"BigDataHive"))));
    CHECK_EQ(2u, RunProgram(exe, Quoted(root)).exitCode);
    // A file that failed its check is never shared.
    const Names own = {L"backup.log", L"incomplete.txt", L"sysdir.txt", L"COMPONENTS.bad",
                       sid + L"\\NTUSER.DAT"};
    for (const std::wstring& name : ListTree(dated)) {
        if (name.back() == L'\\' || name.rfind(L"S-1-5-21-0-", 0) == 0) continue;
        Context row(name);
        const bool shared = std::find(own.begin(), own.end(), name) == own.end() &&
                            FileExists(before + L"\\" + name);
        CHECK_EQ(shared ? 2u : 1u, LinkCount(dated + L"\\" + name));
        CHECK_EQ(shared, SameFile(dated + L"\\" + name, before + L"\\" + name));
    }
    const Strings next = Lines(ReadUtf16Text(dated + L"\\backup.log"));
    CHECK(std::any_of(next.begin(), next.end(), [](const std::string& line) {
        return line.rfind("Space on disk ", 0) == 0 &&
               line.find(" files linked") != std::string::npos;
    }));
    // Once the day before is old enough to go, this one stays whole.
    const auto after = TreeBytes(dated);
    REQUIRE(AgeFolder(before, 20));
    CHECK_EQ(0u, RunProgram(exe, Quoted(root)).exitCode);
    CHECK(!FolderExists(before));
    CHECK_EQ(after, TreeBytes(dated));
    CHECK(LinkCount(dated + L"\\SAM") == 1 &&
          (GetFileAttributesW((dated + L"\\SAM").c_str()) & FILE_ATTRIBUTE_READONLY));
}

// A second run while the first waits for bcdedit.exe ends at once and adds
// nothing. A run that dies leaves its work folder, never a dated one; the
// next run removes the leftover and makes the whole day.
TEST(RunsThatOverlapOrDie) {
    ScopedWineVersion version(L"win10");
    ScratchFolder scratch(L"zelkill");
    const std::wstring dated = scratch / TodayFolderName();
    {
        BcdEditStandIn bcdedit;
        bcdedit.Hold();
        KernelHandle first(StartZel(Quoted(scratch.path())));
        REQUIRE(bcdedit.WaitUntilStarted());
        ProcessResult second = RunZel(Quoted(scratch.path()));
        CHECK_EQ(0u, second.exitCode);
        CHECK_EQ((Strings{Banner, Narrow(scratch.path())}), Lines(second.output));
        TerminateProcess(first.get(), 9);
        WaitForSingleObject(first.get(), INFINITE);
        CHECK(!FolderExists(dated) && FolderExists(dated + L".partial"));
    }
    ProcessResult run = RunZel(Quoted(scratch.path()));
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(RunLines(scratch.path(), true, true), Lines(run.output));
    CHECK_EQ(Names{TodayFolderName() + L"\\"}, TopEntries(scratch.path()));
    CHECK(FileExists(dated + L"\\sysdir.txt") && FileExists(dated + L"\\backup.log"));

    // A finished work folder is never made again: the next run gives it its
    // name (today's, or the past day it stands for) and saves nothing. So
    // does a backup that a replacement moved aside and left there.
    const auto finished = TreeBytes(dated);
    const std::wstring past = scratch / DateName(3);
    REQUIRE(MoveFileW(dated.c_str(), (dated + L".partial").c_str()));
    REQUIRE(WriteFileBytes(past + L".partial\\sysdir.txt", "finished"));
    REQUIRE(WriteFileBytes(scratch / DateName(5) + L".replaced\\sysdir.txt", "aside"));
    run = RunZel(Quoted(scratch.path()));
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ((Strings{Banner, Narrow(scratch.path())}), Lines(run.output));
    CHECK_EQ(finished, TreeBytes(dated));
    CHECK_EQ((Names{DateName(5) + L"\\", DateName(3) + L"\\", TodayFolderName() + L"\\"}),
             TopEntries(scratch.path()));
}

// Windows XP has no boot store: its line stays, but the run with every
// other hive saved succeeds and its backup is complete. A tool held open by
// another program fails the run, though the backup, complete, still
// replaces today's with /days:0.
TEST(WindowsXpAndAToolHeldOpen) {
    REQUIRE(!FolderExists(ConfigFolder));
    AtEnd removeConfig{[] { RemoveTree(ConfigFolder); }};
    const std::string good = ReadFileBytes(HiveFile(L"good.hive"));
    REQUIRE(WriteFileBytes(ConfigFolder + L"\\SAM", good) &&
            WriteFileBytes(ConfigFolder + L"\\SECURITY", good));
    ScopedWineVersion version(L"winxp");
    ScratchFolder scratch(L"zelxp");
    const std::wstring dated = scratch / TodayFolderName();
    const Strings lines =
        RunLines(scratch.path(), false, false, {},
                 {Failed(L"BCD", ERROR_FILE_NOT_FOUND), Saved(L"SYSTEM"), Saved(L"SOFTWARE"),
                  Saved(L"DEFAULT"), Saved(L"SAM"), Saved(L"SECURITY")});
    ProcessResult run = RunZel(Quoted(scratch.path()));
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(lines, Lines(run.output));
    const std::wstring saved = std::to_wstring(lines.size() - 3);  // all but the boot store
    CHECK_EQ(Utf16Bytes(saved + L" of " + saved + L" hives saved"),
             ReadFileBytes(dated + L"\\complete.txt"));

    const std::wstring tool = BuiltProgram(L"revert_x64.exe");
    REQUIRE(FileExists(dated + L"\\revert_x64.exe"));
    {
        FileHandle held(
            CreateFileW(tool.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        REQUIRE(held.valid());
        run = RunZel(L"/days:0 " + Quoted(scratch.path()));
    }
    const std::string copyError = ReportLine("Copy error revert_x64.exe ", ERROR_SHARING_VIOLATION);
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(Join(lines, {copyError}), Lines(run.output));
    const Strings log = Lines(ReadUtf16Text(dated + L"\\backup.log"));
    CHECK(std::find(log.begin(), log.end(), copyError) != log.end());
    CHECK(!FileExists(dated + L"\\revert_x64.exe") && FileExists(dated + L"\\complete.txt"));
}

// The registry's save as Windows' own writes it, a regf file, chosen by the
// file's name: one Windows wrote, a dirty one with its logs and the same
// without them, and one cut short.
const std::map<std::wstring, std::wstring> SavedAs = {
    {L"SYSTEM", L"ManySubkeysHive"},
    {L"SOFTWARE", L"NewDirtyHive1\\NewDirtyHive"},
    {L"DEFAULT", L"BigDataHive"},
    {L"NTUSER.DAT", L"NewDirtyHive1\\NewDirtyHive"}};
constexpr size_t CutAt = 65536;

LSTATUS WINAPI SaveRegf(HKEY, LPCWSTR file, LPSECURITY_ATTRIBUTES, DWORD) {
    const std::wstring target = file, name = target.substr(target.find_last_of(L'\\') + 1);
    const auto source = SavedAs.find(name);
    if (source == SavedAs.end()) return ERROR_NOT_SUPPORTED;
    std::string bytes = ReadFileBytes(WindowsHive(source->second));
    if (name == L"DEFAULT") bytes.resize(CutAt);
    for (const wchar_t* log : {L".LOG1", L".LOG2"})
        if (name == L"SOFTWARE")
            WriteFileBytes(target + log, ReadFileBytes(WindowsHive(source->second + log)));
    return WriteFileBytes(target, bytes) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

// Run by SaveRoadOnRegf in a process of its own: zel's dated run into the
// root ChildSetting() names, as Windows 7, with SaveRegf for the save.
TEST(ChildSaveOnRegf) {
    CaptureStartupValues();
    OsMajor = 6;
    OsMinor = 1;
    wcscpy_s(BackupRoot, ChildSetting().c_str());
    EnableBackupPrivileges();
    CreateProtectedDirectory(BackupRoot);
    SwapCall save(Platform.regSaveKeyEx, SaveRegf);
    exit(RunDatedBackup().exitStatus);
}

// What zel's run makes of the regf files its save wrote: each hive's line on
// the console and in backup.log, each check's line, the cut file set aside
// as .bad, and the record that the backup is incomplete.
TEST(SaveRoadOnRegf) {
    REQUIRE(!FolderExists(ConfigFolder));
    if (!HaveWindowsHives({L"ManySubkeysHive", L"NewDirtyHive1\\NewDirtyHive", L"BigDataHive"}))
        return;
    ScratchFolder scratch(L"zelregf");
    const std::wstring root = scratch / L"backup", dated = root + L"\\" + TodayFolderName();
    Strings lines = RunLines(
        root, false, true, {},
        {Failed(L"BCD", ERROR_FILE_NOT_FOUND), Saved(L"SYSTEM"), Saved(L"SOFTWARE"),
         Failed(L"DEFAULT", ERROR_BADDB), Failed(L"SAM", ERROR_PATH_NOT_FOUND),
         Failed(L"SECURITY", ERROR_PATH_NOT_FOUND), Failed(L"COMPONENTS", ERROR_PATH_NOT_FOUND)});
    lines.erase(lines.begin(), lines.begin() + 2);  // the banner and the root come from wmain
    SetEnvironmentVariableW(L"ZEL_CHILD_SETTING", root.c_str());  // what ChildSetting() reads
    const ProcessResult run = RunProgram(BuiltProgram(L"zel_scene_test.exe"), L"ChildSaveOnRegf");
    SetEnvironmentVariableW(L"ZEL_CHILD_SETTING", nullptr);
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(lines, Lines(run.output));

    const std::string dirty = ReadFileBytes(WindowsHive(L"NewDirtyHive1\\NewDirtyHive"));
    CHECK_EQ(ReadFileBytes(WindowsHive(L"ManySubkeysHive")), ReadFileBytes(dated + L"\\SYSTEM"));
    CHECK_EQ(dirty, ReadFileBytes(dated + L"\\SOFTWARE"));
    CHECK_EQ(ReadFileBytes(WindowsHive(L"BigDataHive")).substr(0, CutAt),
             ReadFileBytes(dated + L"\\DEFAULT.bad"));
    CHECK(FileExists(dated + L"\\SOFTWARE.LOG2") && !FileExists(dated + L"\\DEFAULT"));
    const Strings log = Lines(ReadUtf16Text(dated + L"\\backup.log"));
    REQUIRE(log.size() > lines.size() + 2);
    CHECK(log[0].rfind("Backup started ", 0) == 0 &&
          log[log.size() - 2].rfind("Backup ended ", 0) == 0);
    CHECK_EQ("Backup root " + Narrow(root), log[1]);
    Strings logged, checked;
    for (const std::string& line : log) {
        if (line.rfind("Backup of ", 0) == 0 || line.rfind("Saving error ", 0) == 0)
            logged.push_back(line);
        if (line.rfind("Check of ", 0) == 0) checked.push_back(line);
    }
    CHECK_EQ(lines, logged);
    const std::string user = lines.back().substr(10, lines.back().find(' ', 10) - 10);
    CHECK_EQ(
        (Strings{"Check of SYSTEM passed", "Check of SOFTWARE passed after its logs (4 entries)",
                 "Check of DEFAULT failed: file ends inside the hive bins data",
                 "Check of " + user +
                     " passed; it is dirty, and Windows loads it without the changes of its "
                     "logs: no transaction log is beside the hive"}),
        checked);
    const size_t saved = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("Backup of ", 0) == 0;
    });
    const std::string summary =
        std::to_string(saved) + " of " + std::to_string(lines.size()) + " hives saved";
    CHECK_EQ(summary, log.back());
    CHECK_EQ(Utf16Bytes(Widen(summary)), ReadFileBytes(dated + L"\\incomplete.txt"));
}

}  // namespace
