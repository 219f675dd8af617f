// zel.exe run as a child under Wine: everything one run shows, from the
// command line to the bytes of the day's backup folder.
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "shared/owned_handle.h"
#include "support/check.h"
#include "support/child_process.h"
#include "support/registry_fixture.h"
#include "support/scratch.h"

namespace {

using Strings = std::vector<std::string>;
using Names = std::vector<std::wstring>;
const char Banner[] = "ZEL - Corvane v1.20";
const Strings Usage = {"Syntax: zel.exe[options] backup_path", "/i - install as a service",
                       "/u - uninstall service",
                       "/days:n - delete backup folders older than n days(default: 15)"};
const std::wstring ProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring HiveList = L"SYSTEM\\CurrentControlSet\\Control\\hivelist";
const std::wstring ConfigFolder = SystemDirectory() + L"\\CONFIG";
const wchar_t* const Tools[] = {L"revert.exe", L"tidy.exe", L"revert_x64.exe", L"tidy_x64.exe"};

std::string Saved(const std::wstring& hive) { return "Backup of " + Narrow(hive) + " successfully completed"; }
std::string Failed(const std::wstring& hive, DWORD code) {
    return ReportLine("Saving error " + Narrow(hive) + " ", code);
}
Strings Join(Strings first, const Strings& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}
// Quoted for the runtime's argument splitting: a backslash before the
// closing quote is doubled, or it would escape the quote.
std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + (!text.empty() && text.back() == L'\\' ? L"\\\"" : L"\"");
}
// The entries directly under a folder.
Names TopEntries(const std::wstring& folder) {
    Names top;
    for (const std::wstring& entry : ListTree(folder))
        if (entry.find(L'\\') >= entry.size() - 1) top.push_back(entry);
    return top;
}

// The machine lines of a run without a boot store or CONFIG folder.
Strings MachineLines(bool drivers, bool components) {
    Strings lines = {Failed(L"BCD", ERROR_FILE_NOT_FOUND), Saved(L"SYSTEM"), Saved(L"SOFTWARE"),
                     Saved(L"DEFAULT"), Failed(L"SAM", ERROR_PATH_NOT_FOUND),
                     Failed(L"SECURITY", ERROR_PATH_NOT_FOUND)};
    if (drivers) lines.push_back(Failed(L"DRIVERS", ERROR_PATH_NOT_FOUND));
    if (components) lines.push_back(Failed(L"COMPONENTS", ERROR_PATH_NOT_FOUND));
    return lines;
}

// The lines of the profiles in the order the registry lists them: the
// prefix's own user is loaded; `extra` gives the lines of profiles a test added.
Strings ProfileLines(const std::map<std::wstring, Strings>& extra = {}) {
    Strings lines;
    KeyHandle list;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileList.c_str(), 0, KEY_READ, list.put());
    wchar_t sid[256];
    for (DWORD i = 0; list && RegEnumKeyW(list.get(), i, sid, ARRAYSIZE(sid)) == 0; ++i) {
        auto added = extra.find(sid);
        if (added != extra.end()) {
            lines = Join(lines, added->second);
            continue;
        }
        for (const std::wstring& key : {Upper(sid), Upper(sid) + L"_Classes"})
            if (Upper(sid) != L"S-1-5-18" && KeyExists(HKEY_USERS, key)) lines.push_back(Saved(key));
    }
    return lines;
}

TEST(RefusedCommandLines) {
    ScratchFolder scratch(L"zelusage");
    const std::wstring root = Quoted(scratch / L"root") + L" ";
    const std::wstring tooLong = scratch.path() + L"\\" + std::wstring(4100, L'a');
    const struct { std::wstring arguments; Strings lines; DWORD exit; } cases[] = {
        {L"/?", Usage, 0},
        {L"/x", Join({ReportLine("/x", ERROR_INVALID_PARAMETER)}, Usage), 1},
        {L"/DAYS:5", Join({ReportLine("/DAYS:5", ERROR_INVALID_PARAMETER)}, Usage), 1},
        {L"/days:abc", Join({ReportLine("/days:abc", ERROR_INVALID_PARAMETER)}, Usage), 1},
        {L"/days:", Join({ReportLine("/days:", ERROR_INVALID_PARAMETER)}, Usage), 1},
        {L"/days:15x /i", Join({ReportLine("/days:15x", ERROR_INVALID_PARAMETER)}, Usage), 1},
        {L"/service /x", {}, 1},
        {L"\"\"", Join({ReportLine("\"\"", ERROR_INVALID_PARAMETER)}, Usage), 1},
        {Quoted(tooLong), Join({ReportLine(Narrow(tooLong), ERROR_FILENAME_EXCED_RANGE)}, Usage), 1},
    };
    for (const auto& c : cases) {
        Context row(c.arguments.substr(0, 30));
        ProcessResult run = RunZel(root + c.arguments, scratch.path().c_str());
        CHECK_EQ(c.exit, run.exitCode);
        Strings lines = Lines(run.output);
        // A report on an argument too long for its line keeps the argument's
        // start and the whole system text.
        if (!c.lines.empty() && c.lines[0].size() > 4000 && !lines.empty()) {
            const std::string tail = ReportLine("", ERROR_FILENAME_EXCED_RANGE);
            CHECK(lines[0].size() < 4096 && lines[0].compare(0, 100, c.lines[0], 0, 100) == 0 &&
                  lines[0].compare(lines[0].size() - tail.size(), tail.size(), tail) == 0);
            lines[0] = c.lines[0];
        }
        CHECK_EQ(c.lines, lines);
        CHECK_EQ(Names{}, ListTree(scratch.path()));
    }
}

// However a root is spelled, it names one folder: the first run makes the
// day's backup there, every other spelling finds it.
TEST(RootSpellingsNameOneFolder) {
    ScratchFolder scratch(L"zelroots");
    const std::wstring canonical = scratch / L"bk";
    std::wstring slashed = canonical;
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    const std::wstring spellings[] = {canonical + L"\\", slashed, scratch / L"x\\..\\bk",
                                      L"\\\\?\\" + canonical + L".", canonical + L" ", L"bk"};
    ProcessResult first = RunZel(Quoted(spellings[0]));
    CHECK_EQ(2u, first.exitCode);
    REQUIRE(Lines(first.output).size() > 2);
    CHECK_EQ(Narrow(canonical), Lines(first.output)[1]);
    CHECK(FileExists(canonical + L"\\" + TodayFolderName() + L"\\sysdir.txt"));
    for (const std::wstring& spelling : spellings) {
        Context row(spelling);
        ProcessResult run = RunZel(Quoted(spelling), scratch.path().c_str());
        CHECK_EQ(0u, run.exitCode);
        CHECK_EQ((Strings{Banner, Narrow(canonical)}), Lines(run.output));
    }
    CHECK_EQ(Names{L"bk\\"}, TopEntries(scratch.path()));
    CHECK_EQ(Names{TodayFolderName() + L"\\"}, TopEntries(canonical));

    // A drive root gives today's folder straight under it.
    const std::wstring system = HostPath(SystemDirectory());
    const std::wstring drive = system.substr(0, system.find(L"/dosdevices/")) + L"/dosdevices/m:";
    REQUIRE(CreateDirectoryW((scratch / L"m").c_str(), nullptr));
    REQUIRE(RunHostTool(L"Z:\\bin\\ln -s " + HostPath(scratch / L"m") + L" " + drive));
    ProcessResult run = RunZel(L"M:\\");
    RunHostTool(L"Z:\\bin\\rm " + drive);
    REQUIRE(Lines(run.output).size() > 2);
    CHECK_EQ(std::string("M:\\"), Lines(run.output)[1]);
    CHECK(FileExists(scratch / L"m\\" + TodayFolderName() + L"\\sysdir.txt"));
}

// Removes what a test added to the registry and the system folder.
struct AddedState {
    Names profiles;
    std::wstring listValue;
    ~AddedState() {
        for (const std::wstring& name : profiles) DeleteKeyTree(HKEY_LOCAL_MACHINE, ProfileList + L"\\" + name);
        if (!listValue.empty()) DeleteValue(HKEY_LOCAL_MACHINE, HiveList, listValue);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"BCD00000000");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\ZelTestMarker");
        RemoveTree(ConfigFolder);
    }
};

TEST(WholeRunThenOnceADay) {
    REQUIRE(!FolderExists(ConfigFolder));
    AddedState added;
    ScopedWineVersion version(L"win7");
    ScratchFolder scratch(L"zelrun");
    const std::wstring root = scratch / L"backup", bin = scratch / L"bin";
    const std::wstring dated = root + L"\\" + TodayFolderName(), exe = bin + L"\\zel.exe";
    REQUIRE(WriteFileBytes(exe, ReadFileBytes(BuiltProgram())));
    for (const wchar_t* tool : Tools) REQUIRE(WriteFileBytes(bin + L"\\" + tool, "MZ " + Narrow(tool)));

    // Hives this Wine does not load are copied from CONFIG, their logs beside them.
    const std::map<std::wstring, std::wstring> config = {
        {L"SAM", L"good.hive"}, {L"SECURITY", L"needs_logs.hive"}, {L"COMPONENTS", L"bad_checksum.hive"}};
    for (const auto& [hive, file] : config) REQUIRE(WriteFileBytes(ConfigFolder + L"\\" + hive, ReadFileBytes(HiveFile(file))));
    REQUIRE(WriteFileBytes(ConfigFolder + L"\\SAM.LOG1", "sam log 1"));
    REQUIRE(WriteFileBytes(ConfigFolder + L"\\SAM.LOG2", "sam log 2"));
    // A boot store in the list of loaded hives, and a marker in SOFTWARE.
    added.listValue = L"\\REGISTRY\\MACHINE\\BCD00000000";
    REQUIRE(SetStringValue(HKEY_LOCAL_MACHINE, HiveList, added.listValue, L"\\Device\\HarddiskVolume1\\Boot\\BCD") == 0);
    REQUIRE(SetStringValue(HKEY_LOCAL_MACHINE, L"BCD00000000", L"Marker", L"zel-boot-marker") == 0);
    REQUIRE(SetStringValue(HKEY_LOCAL_MACHINE, L"Software\\ZelTestMarker", L"Marker", L"zel-software-marker") == 0);
    // Profiles that are not loaded: one with both hives on disk, one whose
    // folder is gone, and Local System, which is never backed up.
    const std::wstring alice = scratch / L"Alice";
    const std::wstring classes = alice + L"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";
    REQUIRE(WriteFileBytes(alice + L"\\NTUSER.DAT", ReadFileBytes(HiveFile(L"good.hive"))));
    REQUIRE(WriteFileBytes(alice + L"\\NTUSER.DAT.LOG1", "user log"));
    REQUIRE(WriteFileBytes(classes, ReadFileBytes(HiveFile(L"minimal.hive"))));
    const std::map<std::wstring, std::wstring> profiles = {
        {L"S-1-5-21-9-9-9-1001", alice}, {L"s-1-5-21-9-9-9-1004", scratch / L"Gone"}, {L"s-1-5-18", alice}};
    for (const auto& [sid, path] : profiles) {
        added.profiles.push_back(sid);
        REQUIRE(SetStringValue(HKEY_LOCAL_MACHINE, ProfileList + L"\\" + sid, L"ProfileImagePath", path) == 0);
    }

    const Strings hiveLines = Join(
        {Saved(L"BCD"), Saved(L"SYSTEM"), Saved(L"SOFTWARE"), Saved(L"DEFAULT"), Saved(L"SAM"),
         Saved(L"SECURITY"), Failed(L"COMPONENTS", ERROR_BADDB)},
        ProfileLines({{L"S-1-5-21-9-9-9-1001", {Saved(L"S-1-5-21-9-9-9-1001"), Saved(L"S-1-5-21-9-9-9-1001_Classes")}},
                      {L"s-1-5-21-9-9-9-1004", {}}, {L"s-1-5-18", {}}}));
    ProcessResult run = RunProgram(exe, Quoted(root));
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(Join({Banner, Narrow(root)}, hiveLines), Lines(run.output));

    Names expected = {L"BCD", L"COMPONENTS.bad", L"DEFAULT", L"SAM", L"SAM.LOG1", L"SAM.LOG2",
                      L"SECURITY", L"SOFTWARE", L"SYSTEM", L"backup.log", L"bcd.txt", L"sysdir.txt",
                      L"S-1-5-21-9-9-9-1001\\", L"S-1-5-21-9-9-9-1001\\NTUSER.DAT",
                      L"S-1-5-21-9-9-9-1001\\NTUSER.DAT.LOG1", L"S-1-5-21-9-9-9-1001\\NTUSER.DAT.txt",
                      L"S-1-5-21-9-9-9-1001\\UsrClass.dat", L"S-1-5-21-9-9-9-1001\\UsrClass.dat.txt",
                      L"S-1-5-21-9-9-9-1004\\"};
    for (const wchar_t* tool : Tools) expected.push_back(tool);
    for (const std::wstring& entry : ListTree(dated))
        if (entry.rfind(L"S-1-5-21-0-", 0) == 0) expected.push_back(entry);  // the prefix's own user
    std::sort(expected.begin(), expected.end());
    CHECK_EQ(expected, ListTree(dated));
    CHECK_EQ(Names{TodayFolderName() + L"\\"}, TopEntries(root));
    CHECK_EQ(ReadFileBytes(HiveFile(L"good.hive")), ReadFileBytes(dated + L"\\SAM"));
    CHECK_EQ(std::string("sam log 2"), ReadFileBytes(dated + L"\\SAM.LOG2"));
    CHECK_EQ(ReadFileBytes(HiveFile(L"bad_checksum.hive")), ReadFileBytes(dated + L"\\COMPONENTS.bad"));
    const std::wstring user = dated + L"\\S-1-5-21-9-9-9-1001\\";
    CHECK_EQ(ReadFileBytes(HiveFile(L"good.hive")), ReadFileBytes(user + L"NTUSER.DAT"));
    CHECK_EQ(std::string("user log"), ReadFileBytes(user + L"NTUSER.DAT.LOG1"));
    CHECK_EQ(ReadFileBytes(HiveFile(L"minimal.hive")), ReadFileBytes(user + L"UsrClass.dat"));
    CHECK_EQ(Utf16Bytes(Upper(alice).substr(2) + L"\\NTUSER.DAT"), ReadFileBytes(user + L"NTUSER.DAT.txt"));
    CHECK_EQ(Utf16Bytes(Upper(alice).substr(2) + classes.substr(alice.size())), ReadFileBytes(user + L"UsrClass.dat.txt"));
    CHECK_EQ(Utf16Bytes(L"\\windows\\system32"), ReadFileBytes(dated + L"\\sysdir.txt"));
    CHECK_EQ(Utf16Bytes(L"\\\\?\\HARDDISKVOLUME1\\BOOT\\BCD"), ReadFileBytes(dated + L"\\bcd.txt"));
    CHECK(ReadFileBytes(dated + L"\\BCD").find("\"Marker\"=\"zel-boot-marker\"") != std::string::npos);
    CHECK(ReadFileBytes(dated + L"\\SOFTWARE").find("\"Marker\"=\"zel-software-marker\"") != std::string::npos);
    for (const wchar_t* tool : Tools) CHECK_EQ("MZ " + Narrow(tool), ReadFileBytes(dated + L"\\" + tool));

    Strings log = Lines(ReadUtf16Text(dated + L"\\backup.log"));
    REQUIRE(log.size() > hiveLines.size() + 4);
    CHECK_EQ(std::string("Backup started "), log[0].substr(0, 15));
    CHECK_EQ("Backup root " + Narrow(root), log[1]);
    Strings logged;
    for (const std::string& line : log)
        if (line.rfind("Backup of ", 0) == 0 || line.rfind("Saving error ", 0) == 0) logged.push_back(line);
    CHECK_EQ(hiveLines, logged);
    for (const char* check : {"Check of SYSTEM passed (the platform's text format)", "Check of SAM passed",
                              "Check of SECURITY passed; it needs its logs",
                              "Check of COMPONENTS failed: base block checksum is wrong"})
        CHECK(std::find(log.begin(), log.end(), check) != log.end());
    CHECK_EQ(std::string("Backup ended "), log[log.size() - 2].substr(0, 13));
    CHECK_EQ(std::to_string(hiveLines.size() - 1) + " of " + std::to_string(hiveLines.size()) + " hives saved", log.back());

    // Later runs that day add nothing and change nothing.
    const Names before = ListTree(dated);
    REQUIRE(DeleteFileW((dated + L"\\SYSTEM").c_str()));
    run = RunProgram(exe, Quoted(root));
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ((Strings{Banner, Narrow(root)}), Lines(run.output));
    CHECK(!FileExists(dated + L"\\SYSTEM"));
    CHECK_EQ(before.size() - 1, ListTree(dated).size());
}

TEST(VersionDecidesDriversAndComponents) {
    const struct { const wchar_t* version; bool drivers, components; } cases[] = {
        {L"winxp", false, false}, {L"vista", false, true}, {L"win8", true, true}, {L"win10", true, true}};
    for (const auto& c : cases) {
        Context row(c.version);
        ScopedWineVersion version(c.version);
        ScratchFolder scratch(L"zelversion");
        ProcessResult run = RunZel(Quoted(scratch.path()));
        CHECK_EQ(2u, run.exitCode);
        CHECK_EQ(Join(Join({Banner, Narrow(scratch.path())}, MachineLines(c.drivers, c.components)), ProfileLines()),
                 Lines(run.output));
    }
}

// A run that dies leaves its work folder, never a dated one; the next run
// removes the leftover and makes the whole day.
TEST(KilledRunLeavesNoHalfDay) {
    ScopedWineVersion version(L"win10");
    ScratchFolder scratch(L"zelkill");
    const std::wstring dated = scratch / TodayFolderName();
    {
        BcdEditStandIn bcdedit;
        bcdedit.Hold();
        KernelHandle zel(StartProcess(L"\"" + BuiltProgram() + L"\" " + Quoted(scratch.path())));
        REQUIRE(bcdedit.WaitUntilStarted());
        TerminateProcess(zel.get(), 9);
        WaitForSingleObject(zel.get(), INFINITE);
        CHECK(!FolderExists(dated));
        CHECK(FolderExists(dated + L".partial"));
    }
    for (DWORD delay : {30u, 120u, 400u}) {
        Context row("killed after " + std::to_string(delay) + " ms");
        KernelHandle zel(StartProcess(L"\"" + BuiltProgram() + L"\" " + Quoted(scratch.path())));
        Sleep(delay);
        TerminateProcess(zel.get(), 9);
        WaitForSingleObject(zel.get(), INFINITE);
        CHECK(!FolderExists(dated) || FileExists(dated + L"\\sysdir.txt"));
        RemoveTree(dated);
    }
    ProcessResult run = RunZel(Quoted(scratch.path()));
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(Join({Banner, Narrow(scratch.path())}, Join(MachineLines(true, true), ProfileLines())), Lines(run.output));
    CHECK_EQ(Names{TodayFolderName() + L"\\"}, TopEntries(scratch.path()));
    CHECK(FileExists(dated + L"\\sysdir.txt") && FileExists(dated + L"\\backup.log"));
}

TEST(TwoRunsAtOnceMakeOneBackup) {
    ScratchFolder scratch(L"zeltwo");
    const std::wstring dated = scratch / TodayFolderName();
    BcdEditStandIn bcdedit;
    bcdedit.Hold();
    KernelHandle first(StartProcess(L"\"" + BuiltProgram() + L"\" " + Quoted(scratch.path())));
    REQUIRE(bcdedit.WaitUntilStarted());
    ProcessResult second = RunZel(Quoted(scratch.path()));
    CHECK_EQ(0u, second.exitCode);
    CHECK_EQ((Strings{Banner, Narrow(scratch.path())}), Lines(second.output));
    CHECK(!FolderExists(dated));
    bcdedit.Release();
    WaitForSingleObject(first.get(), 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(first.get(), &exitCode);
    CHECK_EQ(2u, exitCode);
    CHECK_EQ(Names{TodayFolderName() + L"\\"}, TopEntries(scratch.path()));
    CHECK(FileExists(dated + L"\\sysdir.txt"));
}

}  // namespace
