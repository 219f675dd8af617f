// revert.exe under Wine puts a real zel backup back onto a fake offline
// installation and undoes it, its clock moved between two restores; refuses
// every place that leads away or overlaps; is killed at every step of one
// hive's renames; restores a backup of 300 profiles. Then the online road,
// in-process.
#include <io.h>
#include <stdio.h>

#include "hive/regf_layout.h"
#include "revert/backup_hives.h"
#include "revert/restore.h"
#include "revert/run_state.h"
#include "revert/undo.h"
#include "shared/kept_files.h"
#include "shared/platform.h"
#include "support/support.h"

// revert_x64.exe on a backup; key_actions_test.cpp runs it too.
ProcessResult Revert(const std::wstring& backup, const std::wstring& arguments) {
    return RunProgram(BuiltProgram(L"revert_x64.exe"), L"\"" + backup + L"\" " + arguments);
}

namespace {

using Tree = std::map<std::wstring, std::string>;   // relative path: bytes ("" for a folder)
const std::wstring Own = L"S-1-5-21-0-0-0-1000";    // Wine's own user, loaded
const std::wstring Other = L"S-1-5-21-1-2-3-1001";  // a profile not logged on
const std::wstring Suffixes[] = {L"", L".LOG1", L".LOG2", L".LOG"};
const std::wstring Config = L"windows\\system32\\config\\";  // under Wine, from sysdir.txt

std::wstring Location(const std::wstring& file) {  // without its leading backslash
    const std::string bytes = ReadFileBytes(file);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2).substr(1);
}
// Where the root cell of a hive file lies, in hex, as the check tells it.
std::wstring RootAt(const std::wstring& hive) {
    const std::string bytes = ReadFileBytes(hive);
    wchar_t text[16];
    swprintf(
        text, 16, L"%lX",
        4096 + regf::ReadDword(reinterpret_cast<const BYTE*>(bytes.data()) + regf::RootCellOffset));
    return text;
}
// A kept file's name, "<file>.revert-<stamp>", split at its known form into
// the file and the stamp; both empty when it has another form.
std::pair<std::wstring, std::wstring> SplitKept(const std::wstring& kept) {
    const std::wstring tag = L".revert-";
    const size_t at = kept.rfind(tag);
    if (at == std::wstring::npos || !IsStamp(kept.c_str() + at + tag.size())) return {};
    return {kept.substr(0, at), kept.substr(at + tag.size())};
}
std::wstring StampOf(const Strings& lines) {  // of the restore whose lines these are
    for (const std::string& line : lines)
        if (line.rfind("Replaced files are kept beside them as ", 0) == 0)
            return SplitKept(Widen(line)).second;
    return L"";
}
// The installation as people see it: the journal aside.
Tree Installed(const std::wstring& win) {
    Tree tree = TreeBytes(win);
    tree.erase(Config + L"revert.journal");
    return tree;
}

// A zel backup plus hive files of Windows' shape from the project's writer and hivex (SAM and a
// log, BCD, a second profile whose NTUSER.DAT is dirty, with its logs); old hives and logs where
// they go, and a link in the installation.
struct Scene {
    ScratchFolder scratch{L"revert"};
    std::wstring backup = scratch / (L"zel\\" + TodayFolderName()), win = scratch / L"win";
    std::vector<std::pair<std::wstring, std::wstring>> hives;  // in the backup, under win
    Tree before;
    Scene() {
        RunZel(L"\"" + scratch / L"zel" +
               L"\"");  // exits 2 under Wine: no SAM, SECURITY, COMPONENTS
        const std::wstring user = L"USERS\\A\\",
                           classes = user + L"AppData\\Local\\Microsoft\\UsrClass.dat";
        const std::wstring dirty = HiveFile(L"shaped\\new\\HIVE");
        for (const auto& file :
             Tree{{L"SAM", ReadFileBytes(HiveFile(L"shaped\\clean"))},
                  {L"SAM.LOG1", "SAM.LOG1"},
                  {L"BCD", ReadFileBytes(HiveFile(L"minimal.hive"))},
                  {Other + L"\\NTUSER.DAT", ReadFileBytes(dirty)},
                  {Other + L"\\NTUSER.DAT.LOG1", ReadFileBytes(dirty + L".LOG1")},
                  {Other + L"\\NTUSER.DAT.LOG2", ReadFileBytes(dirty + L".LOG2")},
                  {Other + L"\\UsrClass.dat", ReadFileBytes(HiveFile(L"shaped\\old\\RECOVERED"))},
                  {Other + L"\\NTUSER.DAT.txt", Utf16Bytes(L"\\" + user + L"NTUSER.DAT")},
                  {Other + L"\\UsrClass.dat.txt", Utf16Bytes(L"\\" + classes)}})
            WriteFileBytes(backup + L"\\" + file.first, file.second);
        hives = {{L"SYSTEM", Config + L"SYSTEM"},
                 {L"SOFTWARE", Config + L"SOFTWARE"},
                 {L"DEFAULT", Config + L"DEFAULT"},
                 {L"SAM", Config + L"SAM"},
                 {Own + L"\\NTUSER.DAT", Location(backup + L"\\" + Own + L"\\NTUSER.DAT.txt")},
                 {Other + L"\\NTUSER.DAT", user + L"NTUSER.DAT"},
                 {Other + L"\\UsrClass.dat", classes}};
        std::vector<std::wstring> old = {Config + L"SYSTEM.LOG1", Config + L"SAM.LOG2",
                                         user + L"NTUSER.DAT.LOG"};
        for (const auto& hive : hives) old.push_back(hive.second);
        for (const std::wstring& file : old)
            WriteFileBytes(win + L"\\" + file, "old " + Narrow(file));
        RunHostTool(L"Z:\\bin\\ln -s " + HostPath(win + L"\\USERS\\A") + L" " +
                    HostPath(win + L"\\USERS\\L"));
        before = TreeBytes(win);
    }
    // The backup in, the old files kept under the stamp; online, a loaded hive's logs stay, and
    // a refused hive stays as it was.
    // Of the hives whose labels begin with one of `only`, when given.
    Tree Restored(const std::wstring& stamp, bool online = false, const Names& refused = {},
                  const Strings& only = {}) const {
        Tree tree = before;
        for (const auto& hive : hives)
            for (const std::wstring& suffix : Suffixes) {
                const std::wstring live = hive.second + suffix,
                                   saved = backup + L"\\" + hive.first + suffix;
                const bool loaded = online && hive.first != L"SAM" && hive.first.find(Other) != 0;
                if (std::count(refused.begin(), refused.end(), hive.first) ||
                    (!only.empty() && std::none_of(only.begin(), only.end(), [&](auto& o) {
                        return hive.first.rfind(Widen(o), 0) == 0;
                    })))
                    continue;
                if (tree.count(live) && !(loaded && !suffix.empty())) {
                    tree[live + L".revert-" + stamp] = tree[live];
                    tree.erase(live);
                }
                if (FileExists(saved) && !(loaded && !suffix.empty()))
                    tree[live] = ReadFileBytes(saved);
            }
        return tree;
    }
    ProcessResult Revert(const std::wstring& arguments) const {
        return ::Revert(backup, arguments);
    }
};

// RegReplaceKeyW as the next start carries it out, each call kept: key and subkey, new file, old
// file.
std::vector<Strings> Calls;
LSTATUS WINAPI ReplaceAtRestart(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile) {
    using NtQueryKeyFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<NtQueryKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    const int KeyNameInformation = 3;  // a byte count, then the name; not in the user-mode headers
    ULONG name[512] = {}, size = 0;
    query(key, KeyNameInformation, name, sizeof(name), &size);
    const std::wstring full(reinterpret_cast<const wchar_t*>(name + 1), name[0] / 2), old = oldFile;
    Calls.push_back({Narrow(Upper(full) + (subKey ? L"\\" + std::wstring(subKey) : L"")),
                     Narrow(newFile), Narrow(old)});
    const std::wstring live = SplitKept(old).first;
    MoveFileW(live.c_str(), oldFile);
    MoveFileW(newFile, live.c_str());
    return ERROR_SUCCESS;
}

// The reads of a copy, the first byte of the backup's SOFTWARE and SAM damaged on the way.
BOOL WINAPI DamagingRead(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED at) {
    wchar_t path[MAX_PATH] = L"";
    GetFinalPathNameByHandleW(file, path, MAX_PATH, 0);
    const wchar_t* name = wcsrchr(path, L'\\');
    const BOOL done = ReadFile(file, buffer, bytes, read, at);
    if (done && *read > 0 && name && (!_wcsicmp(name, L"\\SOFTWARE") || !_wcsicmp(name, L"\\SAM")))
        static_cast<char*>(buffer)[0] ^= 1;
    return done;
}

// A restore: the loaded hives through the seam, the others at once. SYSTEM's backup is dirty
// with its logs: the image they recover goes in, a clean file that needs no log. DEFAULT's is
// dirty without them: the live logs would meet it, so it stays as it was. The copies of SOFTWARE
// (loaded) and SAM (not), damaged as they are made, fail their check and go no further. The
// lines, each flushed, are read from standard output turned to a file.
void CheckOnlineRoad(const Scene& s) {
    RevertRun run;
    CopyWhole(run.backupFolder, ARRAYSIZE(run.backupFolder), s.backup.c_str());
    CopyWhole(run.targetRoot, ARRAYSIZE(run.targetRoot), s.win.c_str());
    const std::wstring dirty = HiveFile(L"shaped\\new\\HIVE");
    WriteFileBytes(s.backup + L"\\DEFAULT", ReadFileBytes(dirty));
    for (const wchar_t* suffix : {L"", L".LOG1", L".LOG2"})
        WriteFileBytes(s.backup + L"\\SYSTEM" + suffix, ReadFileBytes(dirty + suffix));
    SwapCall recorder(Platform.regReplaceKey, ReplaceAtRestart);
    FindBackupHives(run.backupFolder, BootStore::Apart, &run.hives);
    SwapCall damaging(Platform.readFile, DamagingRead);
    const int console = _dup(1);
    FILE* printed = _wfopen((s.scratch / L"printed").c_str(), L"wb");
    _dup2(_fileno(printed), 1);
    CHECK_EQ(2, RestoreBackup(&run, true));
    _dup2(console, 1);
    fclose(printed);
    REQUIRE(Calls.size() == 2);
    const std::wstring stamp = SplitKept(Widen(Calls[0][2])).second;
    std::vector<Strings> expected;
    for (const auto& [index, key] :
         std::map<int, std::string>{{0, "MACHINE\\SYSTEM"}, {4, "USER\\" + Narrow(Own)}}) {
        const std::wstring live = s.win + L"\\" + s.hives[index].second + L".revert-" + stamp;
        expected.push_back({"\\REGISTRY\\" + key, Narrow(live + L".new"), Narrow(live)});
    }
    CHECK_EQ(expected, Calls);
    const Strings lines = Lines(ReadFileBytes(s.scratch / L"printed"));
    for (const std::string& line :
         Strings{"(!) DEFAULT is loaded and its backup is dirty without usable logs (no "
                 "transaction log is beside the hive): restore it offline",
                 ReportLine(Narrow(L"(!) Unable to copy SOFTWARE to " + s.win + L"\\" +
                                   s.hives[1].second + L".revert-" + stamp + L".new"),
                            ERROR_FILE_CORRUPT),
                 ReportLine(
                     Narrow(L"(!) Unable to restore SAM to " + s.win + L"\\" + s.hives[3].second),
                     ERROR_FILE_CORRUPT)})
        CHECK_EQ(1, std::count(lines.begin(), lines.end(), line));
    Tree restored = s.Restored(stamp, true, {L"DEFAULT", L"SOFTWARE", L"SAM"});
    const std::string recovered = ReadFileBytes(HiveFile(L"shaped\\new\\RECOVERED"));
    restored[s.hives[0].second] = recovered.substr(
        0, 4096 + regf::ReadDword(
                      reinterpret_cast<const BYTE*>(&recovered[regf::BinsDataSizeOffset])));
    CHECK_EQ(restored, Installed(s.win));
}

TEST(RestoreAndUndo) {
    Scene s;
    const std::string banner[] = {Narrow(L"REVERT - " VERSION_BANNER),
                                  "Backup folder: " + Narrow(s.backup)};
    const std::string bcd = "bcdedit /import \"" + Narrow(s.backup) + "\\BCD\"";
    // The listing, from the copy zel put into the backup, which finds its backup by itself; with
    // /n, the same under the root a restore would use.
    auto listing = [&](const std::wstring& root) {
        Strings lines = {banner[0], banner[1]};
        if (!root.empty()) lines.push_back("Windows root: " + Narrow(root));
        lines.push_back("BCD: passed; not replaced: " + bcd);
        for (const auto& hive : s.hives)
            lines.push_back(Narrow(hive.first +
                                   (hive.first == Other + L"\\NTUSER.DAT"
                                        ? L": passed after its logs (4 entries)"
                                    : hive.first == L"SAM" || hive.first.find(Other) == 0
                                        ? L": passed"
                                        : L": passed, Wine text hive") +
                                   L"; goes to " + root + L"\\" + hive.second));
        return lines;
    };
    ProcessResult run = RunProgram(s.backup + L"\\revert_x64.exe", L"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(listing(L""), Lines(run.output));
    run = s.Revert(L"/n /offline:\"" + s.win + L"\"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(listing(s.win), Lines(run.output));

    // Whatever is refused, nothing changes anywhere. The listing under that root says the same;
    // the listing alone tells of all but what depends on the root.
    const std::wstring text = Other + L"\\NTUSER.DAT.txt",
                       place = L"(!) Unable to place " + Other + L"\\NTUSER.DAT: ",
                       inBackup = L"\\zel\\" + TodayFolderName() + L"\\" + Own + L"\\NTUSER.DAT";
    struct Row {
        std::wstring file, text, line;
        DWORD code, shown;
        std::wstring root = L"";
    };
    std::wstring same = L"\\" + s.hives[4].second;  // a spelling of its own
    CharLowerW(&same[0]);
    std::vector<Row> refused = {
        {text, L"\\USERS\\B\\NTUSER.DAT", place + L"no folder " + s.win + L"\\USERS\\B",
         ERROR_PATH_NOT_FOUND, 0},
        {text, L"\\USERS\\L\\NTUSER.DAT", place + s.win + L"\\USERS\\L is a link",
         ERROR_BAD_PATHNAME, 0},
        {text, same, place + Own + L"\\NTUSER.DAT goes to " + s.win + same + L" too",
         ERROR_ALREADY_EXISTS, 2},
        {text, inBackup, place + s.scratch.path() + inBackup + L" lies inside the backup folder",
         ERROR_BAD_PATHNAME, 0, s.scratch.path()},
        {text, L"\\USERS\\A\\NTUSER.DAT",
         L"(!) Unable to place revert.journal: " + s.backup + L" lies inside the backup folder",
         ERROR_BAD_PATHNAME, 0, s.backup},
        {text, L"\\..\\..\\NTUSER.DAT",
         place + text + L" holds \"\\..\\..\\NTUSER.DAT\", not a plain path without a drive",
         ERROR_BAD_PATHNAME, 2},
        {L"SAM", L"",
         L"(!) SAM: failed: root cell is not a key node at file offset 0x" +
             RootAt(HiveFile(L"bad_root.hive")),
         0, 2}};
    for (const auto& row : refused) {
        Context context(row.line);
        const std::wstring file = s.backup + L"\\" + row.file;
        const std::wstring root = L"/offline:\"" + (row.root.empty() ? s.win : row.root) + L"\"";
        const std::string kept = ReadFileBytes(file);
        WriteFileBytes(file,
                       row.code ? Utf16Bytes(row.text) : ReadFileBytes(HiveFile(L"bad_root.hive")));
        const Tree scene = TreeBytes(s.scratch.path());
        run = s.Revert(root);
        const Strings lines = Lines(run.output);
        CHECK_EQ(2u, run.exitCode);
        const std::string line =
            row.code ? ReportLine(Narrow(row.line), row.code) : Narrow(row.line);
        CHECK(std::count(lines.begin(), lines.end(), line) == 1);
        CHECK(std::count(lines.begin(), lines.end(), "(!) Nothing was changed") == 1);
        CHECK_EQ(2u, s.Revert(L"/n " + root).exitCode);
        CHECK_EQ(row.shown, s.Revert(L"").exitCode);
        CHECK_EQ(scene, TreeBytes(s.scratch.path()));
        WriteFileBytes(file, kept);
    }

    // A's files are links shared with another day's, read-only as zel leaves them. Restore A
    // with the clock ten hours ahead, then restore B (without SYSTEM) ten hours behind, as a
    // recovery prompt in its own time zone has it: B's stamp sorts first.
    const std::vector<std::wstring> files = ListTree(s.backup);
    for (const std::wstring& name : files) {
        const std::wstring file = s.backup + L"\\" + name;
        if (name.back() == L'\\') continue;
        REQUIRE(WriteFileBytes(s.scratch / L"zel\\2000-01-01\\" + name, ReadFileBytes(file)));
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        REQUIRE(DeleteFileW(file.c_str()));
        REQUIRE(CreateHardLinkW(file.c_str(), (s.scratch / L"zel\\2000-01-01\\" + name).c_str(),
                                nullptr));
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    const std::vector<std::wstring> offline = {s.backup, L"/offline:" + s.win};
    run = RunInZone("UTC-10", BuiltProgram(L"revert_x64.exe"), offline);
    CHECK_EQ(0u, run.exitCode);
    Strings lines = Lines(run.output);
    const std::wstring stamp = StampOf(lines);
    Strings expected = {banner[0], banner[1], "Windows root: " + Narrow(s.win),
                        "Replaced files are kept beside them as NAME.revert-" + Narrow(stamp)};
    for (const auto& hive : s.hives)
        expected.push_back(Narrow(hive.first + L" restored to " + s.win + L"\\" + hive.second));
    expected.push_back("To restore the boot store: " + bcd);
    CHECK_EQ(expected, lines);
    CHECK_EQ(s.Restored(stamp), Installed(s.win));
    for (const auto& hive : s.hives)
        CHECK(
            !(GetFileAttributesW((s.win + L"\\" + hive.second).c_str()) & FILE_ATTRIBUTE_READONLY));
    for (const std::wstring& name : files)
        SetFileAttributesW((s.backup + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);

    MoveFileW((s.backup + L"\\SYSTEM").c_str(), (s.backup + L"\\SYSTEM.bad").c_str());
    run = RunInZone("UTC+10", BuiltProgram(L"revert_x64.exe"), offline);
    MoveFileW((s.backup + L"\\SYSTEM.bad").c_str(), (s.backup + L"\\SYSTEM").c_str());
    CHECK_EQ(0u, run.exitCode);
    CHECK(StampOf(Lines(run.output)) < stamp);
    // Each /undo takes back the restore made last: first B, then A.
    CHECK_EQ(0u, s.Revert(L"/undo /offline:\"" + s.win + L"\"").exitCode);
    CHECK_EQ(s.Restored(stamp), Installed(s.win));
    CHECK_EQ(0u, s.Revert(L"/offline:\"" + s.win + L"\" /undo").exitCode);
    CHECK_EQ(s.before, Installed(s.win));
    CHECK_EQ(2u, s.Revert(L"/offline:\"" + s.win + L"\" /undo").exitCode);
    CheckOnlineRoad(s);
}

// /only: chooses what is checked, placed, restored, kept aside and journaled, and what /undo
// takes back; a profile with no place has the rest printed as a command that works as printed.
TEST(ChosenHives) {
    Scene s;
    const std::wstring offline = L"/offline:\"" + s.win + L"\"";
    const Strings machine = {"SYSTEM", "SOFTWARE", "DEFAULT", "SAM"};
    const std::wstring dirty = HiveFile(L"shaped\\new\\HIVE");
    for (const wchar_t* suffix : {L"", L".LOG1", L".LOG2"})
        WriteFileBytes(s.backup + L"\\SOFTWARE" + suffix, ReadFileBytes(dirty + suffix));
    auto journalHaves = [&] {
        Strings haves;
        for (const std::string& line :
             Lines(ReadUtf16Text(s.win + L"\\" + Config + L"revert.journal")))
            if (line.rfind("have ", 0) == 0) haves.push_back(line.substr(10));
        return haves;
    };

    // SOFTWARE alone, with its logs; the others' old files and logs stay; /undo gives all back.
    ProcessResult run = s.Revert(offline + L" /only:software");
    CHECK_EQ(0u, run.exitCode);
    Strings lines = Lines(run.output);
    std::wstring stamp = StampOf(lines);
    CHECK_EQ(Strings({"Windows root: " + Narrow(s.win),
                      "Replaced files are kept beside them as NAME.revert-" + Narrow(stamp),
                      Narrow(L"SOFTWARE restored to " + s.win + L"\\" + Config + L"SOFTWARE")}),
             Strings(lines.begin() + 2, lines.end()));
    CHECK_EQ(s.Restored(stamp, false, {}, {"SOFTWARE"}), Installed(s.win));
    CHECK_EQ(Strings({Narrow(L"\\" + Config + L"SOFTWARE")}), journalHaves());
    CHECK_EQ(0u, s.Revert(offline + L" /undo").exitCode);
    CHECK_EQ(s.before, Installed(s.win));

    // A profile's SID: both its hives.
    run = s.Revert(offline + L" /only:" + Other);
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(s.Restored(StampOf(Lines(run.output)), false, {}, {Narrow(Other)}), Installed(s.win));
    CHECK_EQ(0u, s.Revert(offline + L" /undo").exitCode);
    CHECK_EQ(s.before, Installed(s.win));

    // Names refused before anything is read or changed.
    const std::wstring holdsNo = L"(!) /only: the backup holds no ";
    const std::pair<std::wstring, std::wstring> refused[] = {
        {L"/only:NTUSER.DAT",
         L"(!) /only: NTUSER.DAT is no hive name; give BCD, SYSTEM, SOFTWARE, "
         L"DEFAULT, SAM, SECURITY, DRIVERS, COMPONENTS, machine, users or a "
         L"profile's SID"},
        {L"/only:SAM,,SYSTEM",
         L"(!) /only: a name is missing in the list (two commas, or one at an end)"},
        {L"/only:COMPONENTS", holdsNo + L"COMPONENTS"},
        {L"/only:S-1-5-21-9-9", holdsNo + L"S-1-5-21-9-9"},
        {L"/only:" + std::wstring(200, L'S'),
         L"(!) /only: a name longer than 191 characters is no hive name"},
        {L"/undo /only:SAM", L"(!) /only: /undo takes back what the last restore chose"}};
    for (const auto& [arguments, line] : refused) {
        Context context(arguments);
        run = s.Revert(offline + L" " + arguments);
        CHECK_EQ(1u, run.exitCode);
        lines = Lines(run.output);
        CHECK(std::count(lines.begin(), lines.end(), Narrow(line)) == 1);
    }
    CHECK_EQ(s.before, Installed(s.win));

    // Other's folder gone: the whole restore is refused; it names Other and the rest's command.
    MoveFileW((s.win + L"\\USERS\\A").c_str(), (s.win + L"\\USERS\\gone").c_str());
    auto moved = [](const Tree& tree) {  // with Other's folder moved away, the link to it dead
        Tree out;
        for (const auto& [file, bytes] : tree)
            out[file.rfind(L"USERS\\A", 0) == 0 ? L"USERS\\gone" + file.substr(7) : file] = bytes;
        out.erase(L"USERS\\L\\");
        return out;
    };
    const Tree before = moved(s.before);
    run = s.Revert(offline);
    CHECK_EQ(2u, run.exitCode);
    lines = Lines(run.output);
    REQUIRE(lines.size() > 3);
    const std::string rest = "To restore the rest: \"" + Narrow(BuiltProgram(L"revert_x64.exe")) +
                             "\" \"" + Narrow(s.backup) + "\" " + Narrow(offline) +
                             " /only:machine," + Narrow(Own);
    CHECK_EQ(Strings({"(!) Nothing was changed", "(!) Not restored with the rest: " + Narrow(Other),
                      rest}),
             Strings(lines.end() - 3, lines.end()));
    CHECK_EQ(before, Installed(s.win));
    CHECK_EQ(0u, s.Revert(L"/n " + offline + L" /only:Machine").exitCode);
    run = s.Revert(offline + L" /only:machine");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(moved(s.Restored(StampOf(Lines(run.output)), false, {}, machine)), Installed(s.win));
    CHECK_EQ(0u, s.Revert(offline + L" /undo").exitCode);
    CHECK_EQ(before, Installed(s.win));

    // The rest's command, run as printed.
    const std::wstring command = Widen(rest.substr(rest.find('"') + 1));
    const size_t end = command.find(L'"');
    run = RunProgram(command.substr(0, end), command.substr(end + 2));
    CHECK_EQ(0u, run.exitCode);
    Strings chosen = machine;
    chosen.push_back(Narrow(Own));
    CHECK_EQ(moved(s.Restored(StampOf(Lines(run.output)), false, {}, chosen)), Installed(s.win));

    // The listing of a copy in the installation's Windows folder proves the places there.
    const std::wstring copy = s.win + L"\\windows\\ZEL\\" + TodayFolderName();
    for (const auto& [file, bytes] : TreeBytes(s.backup))
        if (file.back() != L'\\') WriteFileBytes(copy + L"\\" + file, bytes);
    run = RunProgram(copy + L"\\revert_x64.exe", L"");
    CHECK_EQ(2u, run.exitCode);
    lines = Lines(run.output);
    REQUIRE(lines.size() > 4);
    CHECK_EQ("Windows root: " + Narrow(s.win) + " (the backup lies in it)", lines[2]);
    const std::string nowhere = ReportLine(
        Narrow(L"passed; goes nowhere: no folder " + s.win + L"\\USERS\\A"), ERROR_PATH_NOT_FOUND);
    CHECK_EQ(Narrow(Other) + "\\UsrClass.dat: " + nowhere, lines.back());
}

// One hive, SAM, with two old logs; its backup brings one log.
struct KillScene {
    ScratchFolder scratch{L"revertkill"};
    std::wstring backup = scratch / L"backup", win = scratch / L"win",
                 config = win + L"\\" + Config;
    Tree before;
    KillScene() {
        WriteFileBytes(backup + L"\\sysdir.txt", Utf16Bytes(L"\\windows\\system32"));
        WriteFileBytes(backup + L"\\SAM", ReadFileBytes(HiveFile(L"minimal.hive")));
        WriteFileBytes(backup + L"\\SAM.LOG1", "new log");
        for (const wchar_t* file : {L"SAM", L"SAM.LOG1", L"SAM.LOG2"})
            WriteFileBytes(config + file, "old " + Narrow(file));
        before = TreeBytes(win);
    }
    Tree Restored(const std::wstring& stamp) const {
        Tree tree = before;
        for (const wchar_t* file : {L"SAM", L"SAM.LOG1", L"SAM.LOG2"})
            tree[Config + file + L".revert-" + stamp] = before.at(Config + file);
        tree[Config + L"SAM"] = ReadFileBytes(backup + L"\\SAM");
        tree[Config + L"SAM.LOG1"] = "new log";
        tree.erase(Config + L"SAM.LOG2");
        return tree;
    }
};

// Run by KilledAtEveryStep in a process of its own: "restore|<backup>|<root>" or "undo|...".
TEST(ChildRevert) {
    const std::wstring setting = ChildSetting();
    const size_t first = setting.find(L'|'), last = setting.rfind(L'|');
    RevertRun run;
    CopyWhole(run.backupFolder, ARRAYSIZE(run.backupFolder),
              setting.substr(first + 1, last - first - 1).c_str());
    CopyWhole(run.targetRoot, ARRAYSIZE(run.targetRoot), setting.substr(last + 1).c_str());
    CountSteps();
    FindBackupHives(run.backupFolder, BootStore::Apart, &run.hives);
    setting.rfind(L"undo|", 0) == 0 ? UndoRestore(&run, false) : RestoreBackup(&run, false);
}

// A restore or an undo killed before each move and read of one hive; then /undo, or the next
// restore, brings back every original byte and loses no log. Where a step is let go on after a
// change, the hive is not restored and nothing is lost either.
TEST(KilledAtEveryStep) {
    enum Then { Undo, RestoreAgain, LogHeldOpen };
    const struct {
        const wchar_t* run;
        int step;  // 1-4: SAM, .LOG1, .LOG2, .LOG kept aside; 5, 6: SAM and .LOG1 copied in
        Then then;
    } rows[] = {{L"restore", 1, Undo}, {L"restore", 2, Undo},         {L"restore", 3, Undo},
                {L"restore", 4, Undo}, {L"restore", 5, Undo},         {L"restore", 6, Undo},
                {L"undo", 2, Undo},    {L"restore", 2, RestoreAgain}, {L"restore", 3, LogHeldOpen}};
    for (const auto& row : rows) {
        Context context(std::wstring(row.run) + L" held before step " + std::to_wstring(row.step) +
                        L", then " + std::to_wstring(row.then));
        KillScene s;
        const std::wstring offline = L"/offline:\"" + s.win + L"\"";
        if (row.run == std::wstring(L"undo")) REQUIRE(Revert(s.backup, offline).exitCode == 0);
        HeldChild child("ChildRevert", row.step, row.run + (L"|" + s.backup + L"|" + s.win));
        REQUIRE(child.Held());
        FileHandle log(row.then != LogHeldOpen
                           ? INVALID_HANDLE_VALUE
                           : CreateFileW((s.config + L"SAM.LOG2").c_str(), GENERIC_READ,
                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (row.then == Undo || row.then == RestoreAgain) {
            child.Kill();
        } else {
            child.Finish();
        }
        if (row.then == RestoreAgain) {
            const Strings lines = Lines(Revert(s.backup, offline).output);
            CHECK(lines.size() > 3 && lines[3].rfind("The restore under the stamp ", 0) == 0);
            CHECK_EQ(s.Restored(StampOf(lines)), Installed(s.win));
        }
        if (row.then == Undo || row.then == RestoreAgain)
            CHECK_EQ(0u, Revert(s.backup, L"/undo " + offline).exitCode);
        CHECK_EQ(s.before, Installed(s.win));
    }
}

// 300 profiles beside KillScene's SAM, 601 hives: listed, restored and undone like any backup.
TEST(ThreeHundredProfiles) {
    KillScene s;
    const std::string small = ReadFileBytes(HiveFile(L"minimal.hive"));
    for (int i = 0; i < 300; ++i) {
        const std::wstring sid = L"S-1-5-21-7-7-7-" + std::to_wstring(1000 + i),
                           user = L"Users\\u" + std::to_wstring(i);
        for (const wchar_t* hive : {L"NTUSER.DAT", L"UsrClass.dat"}) {
            WriteFileBytes(s.backup + L"\\" + sid + L"\\" + hive, small);
            WriteFileBytes(s.backup + L"\\" + sid + L"\\" + hive + L".txt",
                           Utf16Bytes(L"\\" + user + L"\\" + hive));
            WriteFileBytes(s.win + L"\\" + user + L"\\" + hive, "old " + Narrow(hive));
        }
    }
    s.before = TreeBytes(s.win);
    ProcessResult run = Revert(s.backup, L"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(size_t{2 + 601}, Lines(run.output).size());

    run = Revert(s.backup, L"/offline:\"" + s.win + L"\"");
    CHECK_EQ(0u, run.exitCode);
    const std::wstring stamp = StampOf(Lines(run.output));
    // SAM as in KillScene; each profile's old file kept under the stamp, the backup's in its place.
    Tree restored = s.Restored(stamp);
    for (const auto& [name, bytes] : s.before) {
        if (name.back() == L'\\' || name.rfind(Config, 0) == 0) continue;
        restored[name + L".revert-" + stamp] = bytes;
        restored[name] = small;
    }
    CHECK_EQ(restored, Installed(s.win));
    CHECK_EQ(0u, Revert(s.backup, L"/undo /offline:\"" + s.win + L"\"").exitCode);
    CHECK_EQ(s.before, Installed(s.win));
}

}  // namespace
