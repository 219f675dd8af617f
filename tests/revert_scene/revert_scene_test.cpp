// revert.exe under Wine puts a real zel backup back onto a fake offline
// installation and undoes it; then the online road, in-process.
#include "hive/regf_layout.h"
#include "revert/restore.h"
#include "revert/run_state.h"
#include "revert/undo.h"
#include "shared/kept_files.h"
#include "support/support.h"

namespace {

using Tree = std::map<std::wstring, std::string>;   // relative path: bytes ("" for a folder)
const std::wstring Own = L"S-1-5-21-0-0-0-1000";    // Wine's own user, loaded
const std::wstring Other = L"S-1-5-21-1-2-3-1001";  // a profile not logged on
const std::wstring Suffixes[] = {L"", L".LOG1", L".LOG2", L".LOG"};

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

// A zel backup plus hive files Windows wrote (SAM and a log, BCD, a second profile whose
// NTUSER.DAT is dirty, with its logs); old hives and logs where they go.
struct Scene {
    ScratchFolder scratch{L"revert"};
    std::wstring backup = scratch / (L"zel\\" + TodayFolderName()), win = scratch / L"win", config;
    std::vector<std::pair<std::wstring, std::wstring>> hives;  // in the backup, under win
    Tree before;
    Scene() {
        RunZel(L"\"" + scratch / L"zel" +
               L"\"");  // exits 2 under Wine: no SAM, SECURITY, COMPONENTS
        config = Location(backup + L"\\sysdir.txt") + L"\\config\\";
        const std::wstring user = L"USERS\\A\\",
                           classes = user + L"AppData\\Local\\Microsoft\\UsrClass.dat";
        const std::wstring dirty = L"NewDirtyHive1\\NewDirtyHive";
        for (const auto& file :
             Tree{{L"SAM", ReadFileBytes(WindowsHive(L"ManySubkeysHive"))},
                  {L"SAM.LOG1", "SAM.LOG1"},
                  {L"BCD", ReadFileBytes(WindowsHive(L"EmptyHive"))},
                  {Other + L"\\NTUSER.DAT", ReadFileBytes(WindowsHive(dirty))},
                  {Other + L"\\NTUSER.DAT.LOG1", ReadFileBytes(WindowsHive(dirty + L".LOG1"))},
                  {Other + L"\\NTUSER.DAT.LOG2", ReadFileBytes(WindowsHive(dirty + L".LOG2"))},
                  {Other + L"\\UsrClass.dat", ReadFileBytes(WindowsHive(L"BigDataHive"))},
                  {Other + L"\\NTUSER.DAT.txt", Utf16Bytes(L"\\" + user + L"NTUSER.DAT")},
                  {Other + L"\\UsrClass.dat.txt", Utf16Bytes(L"\\" + classes)}})
            WriteFileBytes(backup + L"\\" + file.first, file.second);
        hives = {{L"SYSTEM", config + L"SYSTEM"},
                 {L"SOFTWARE", config + L"SOFTWARE"},
                 {L"DEFAULT", config + L"DEFAULT"},
                 {L"SAM", config + L"SAM"},
                 {Own + L"\\NTUSER.DAT", Location(backup + L"\\" + Own + L"\\NTUSER.DAT.txt")},
                 {Other + L"\\NTUSER.DAT", user + L"NTUSER.DAT"},
                 {Other + L"\\UsrClass.dat", classes}};
        std::vector<std::wstring> old = {config + L"SYSTEM.LOG1", config + L"SAM.LOG2",
                                         user + L"NTUSER.DAT.LOG"};
        for (const auto& hive : hives) old.push_back(hive.second);
        for (const std::wstring& file : old)
            WriteFileBytes(win + L"\\" + file, "old " + Narrow(file));
        before = TreeBytes(win);
    }
    // The backup in, the old files kept under the stamp; online, a loaded hive's logs stay.
    Tree Restored(const std::wstring& stamp, bool online = false) const {
        Tree tree = before;
        for (const auto& hive : hives)
            for (const std::wstring& suffix : Suffixes) {
                const std::wstring live = hive.second + suffix,
                                   saved = backup + L"\\" + hive.first + suffix;
                const bool loaded = online && hive.first != L"SAM" && hive.first.find(Other) != 0;
                if (tree.count(live) && !(loaded && !suffix.empty())) {
                    tree[live + L".revert-" + stamp] = tree[live];
                    tree.erase(live);
                }
                if (FileExists(saved)) tree[live] = ReadFileBytes(saved);
            }
        return tree;
    }
    ProcessResult Revert(const std::wstring& arguments) const {
        return RunProgram(BuiltProgram(L"revert_x64.exe"), L"\"" + backup + L"\" " + arguments);
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

// A restore: the loaded hives through the seam, the others at once.
void CheckOnlineRoad(const Scene& s) {
    CopyWhole(BackupFolder, ARRAYSIZE(BackupFolder), s.backup.c_str());
    CopyWhole(TargetRoot, ARRAYSIZE(TargetRoot), s.win.c_str());
    RegReplaceKeyEntry = ReplaceAtRestart;
    CHECK_EQ(0, RestoreBackup(true));
    REQUIRE(Calls.size() == 4);
    const std::wstring stamp = SplitKept(Widen(Calls[0][2])).second;
    std::vector<Strings> expected;
    for (const auto& [index, key] : std::map<int, std::string>{{0, "MACHINE\\SYSTEM"},
                                                               {1, "MACHINE\\SOFTWARE"},
                                                               {2, "USER\\.DEFAULT"},
                                                               {4, "USER\\" + Narrow(Own)}}) {
        const std::wstring live = s.win + L"\\" + s.hives[index].second + L".revert-" + stamp;
        expected.push_back({"\\REGISTRY\\" + key, Narrow(live + L".new"), Narrow(live)});
    }
    CHECK_EQ(expected, Calls);
    CHECK_EQ(s.Restored(stamp, true), TreeBytes(s.win));
}

TEST(RestoreAndUndo) {
    Scene s;
    const std::string banner[] = {"REVERT - Corvane v1.20", "Backup folder: " + Narrow(s.backup)};
    const std::string bcd = "bcdedit /import \"" + Narrow(s.backup) + "\\BCD\"";
    // The listing, from the copy zel put into the backup, which finds its backup by itself.
    Strings lines = {banner[0], banner[1], "BCD: passed; not replaced: " + bcd};
    for (const auto& hive : s.hives)
        lines.push_back(Narrow(hive.first +
                               (hive.first == Other + L"\\NTUSER.DAT" ? L": passed, needs its logs"
                                : hive.first == L"SAM" || hive.first.find(Other) == 0
                                    ? L": passed"
                                    : L": passed, Wine text hive") +
                               L"; goes to \\" + hive.second));
    ProcessResult run = RunProgram(s.backup + L"\\revert_x64.exe", L"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(lines, Lines(run.output));

    // Whatever is refused, nothing changes anywhere; the listing tells of all but the missing
    // folder.
    const std::wstring text = Other + L"\\NTUSER.DAT.txt",
                       place = L"(!) Unable to place " + Other + L"\\";
    struct Row {
        std::wstring file, text, line;
        DWORD code, shown;
    };
    std::vector<Row> refused = {
        {text, L"\\USERS\\B\\NTUSER.DAT", place + L"NTUSER.DAT: no folder " + s.win + L"\\USERS\\B",
         ERROR_PATH_NOT_FOUND, 0},
        {L"SAM", L"",
         L"(!) SAM failed its check: root cell is not a key node at file offset 0x" +
             RootAt(HiveFile(L"bad_root.hive")),
         0, 2}};
    for (const wchar_t* bad : {L"\\..\\..\\NTUSER.DAT", L"C:\\NTUSER.DAT"})
        refused.push_back({text, bad,
                           place + L"NTUSER.DAT: " + text + L" holds \"" + bad +
                               L"\", not a plain path without a drive",
                           ERROR_BAD_PATHNAME, 2});
    for (const auto& row : refused) {
        Context context(row.line);
        const std::wstring file = s.backup + L"\\" + row.file;
        const std::string kept = ReadFileBytes(file);
        WriteFileBytes(file,
                       row.code ? Utf16Bytes(row.text) : ReadFileBytes(HiveFile(L"bad_root.hive")));
        const Tree scene = TreeBytes(s.scratch.path());
        run = s.Revert(L"/offline:\"" + s.win + L"\"");
        lines = Lines(run.output);
        CHECK_EQ(2u, run.exitCode);
        const std::string line =
            row.code ? ReportLine(Narrow(row.line), row.code) : Narrow(row.line);
        CHECK(std::count(lines.begin(), lines.end(), line) == 1);
        CHECK_EQ(std::string("(!) Nothing was changed"), lines.back());
        CHECK_EQ(scene, TreeBytes(s.scratch.path()));
        CHECK_EQ(row.shown, s.Revert(L"").exitCode);
        WriteFileBytes(file, kept);
    }

    run = s.Revert(L"/offline:\"" + s.win + L"\"");
    CHECK_EQ(0u, run.exitCode);
    lines = Lines(run.output);
    const std::string stamp = lines.size() > 3 ? Narrow(SplitKept(Widen(lines[3])).second) : "";
    Strings expected = {banner[0], banner[1], "Windows root: " + Narrow(s.win),
                        "Replaced files are kept beside them as NAME.revert-" + stamp};
    for (const auto& hive : s.hives)
        expected.push_back(Narrow(hive.first + L" restored to " + s.win + L"\\" + hive.second));
    expected.push_back("To restore the boot store: " + bcd);
    CHECK_EQ(expected, lines);
    CHECK_EQ(s.Restored(Widen(stamp)), TreeBytes(s.win));

    Sleep(1000);  // a second restore, under a later stamp and without SYSTEM
    MoveFileW((s.backup + L"\\SYSTEM").c_str(), (s.backup + L"\\SYSTEM.bad").c_str());
    CHECK_EQ(0u, s.Revert(L"/offline:\"" + s.win + L"\"").exitCode);
    MoveFileW((s.backup + L"\\SYSTEM.bad").c_str(), (s.backup + L"\\SYSTEM").c_str());
    // Each /undo puts back what the latest restore kept, and takes away the logs it brought.
    CHECK_EQ(0u, s.Revert(L"/undo /offline:\"" + s.win + L"\"").exitCode);
    CHECK_EQ(s.Restored(Widen(stamp)), TreeBytes(s.win));
    CHECK_EQ(0u, s.Revert(L"/offline:\"" + s.win + L"\" /undo").exitCode);
    CHECK_EQ(s.before, TreeBytes(s.win));
    CHECK_EQ(2u, s.Revert(L"/offline:\"" + s.win + L"\" /undo").exitCode);
    CheckOnlineRoad(s);
}

}  // namespace
