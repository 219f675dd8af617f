// revert /export and /diff under Wine, on backups of hives that hivex grew
// and that Windows wrote: the exported file against hivex's reading of the
// key, a round trip through reg import and the registry's own reading, a dirty hive
// against Windows' recovery of it, the changes between two backups, and
// every refusal, after which nothing was written and the backups are as
// they were.
#include "revert/key_path.h"
#include "support/support.h"

ProcessResult Revert(const std::wstring& backup, const std::wstring& arguments);  // revert_scene

namespace {

const std::wstring Sid = L"S-1-5-21-1-2-3-1001";
const std::string Banner = Narrow(L"REVERT - " VERSION_BANNER);

void Place(const std::wstring& folder, const std::map<std::wstring, std::wstring>& files) {
    for (const auto& [name, source] : files)
        WriteFileBytes(folder + L"\\" + name, ReadFileBytes(source));
}

TEST(ExportAKey) {
    if (!HaveWindowsHives()) return;
    ScratchFolder scratch{L"export"};
    const std::wstring backup = scratch / L"backup", file = scratch / L"ZelExport.reg";
    const std::wstring dirty = L"NewDirtyHive1\\NewDirtyHive", user = Sid + L"\\NTUSER.DAT";
    Place(backup, {{L"SOFTWARE", HiveFile(L"export.hive")},
                   {L"DEFAULT", HiveFile(L"text.hive")},
                   {L"SYSTEM", HiveFile(L"bad_checksum.hive")},
                   {user, WindowsHive(dirty)},
                   {user + L".LOG1", WindowsHive(dirty + L".LOG1")},
                   {user + L".LOG2", WindowsHive(dirty + L".LOG2")}});
    const std::map<std::wstring, std::string> before = TreeBytes(backup);

    // The key as hivex reads it, to the byte; the key names in any case.
    ProcessResult run =
        Revert(backup, L"/export:hklm\\software\\ZELEXPORT\\ /to:\"" + file + L"\"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ((Strings{Banner, "Backup folder: " + Narrow(backup),
                      "Exported 6 keys and 24 values to " + Narrow(file)}),
             Lines(run.output));
    CHECK_EQ(ReadFileBytes(HiveFile(L"export.expected.reg")), ReadFileBytes(file));

    // A dirty hive exports what Windows loads after its logs: what Windows 10 recovered.
    const std::wstring recovered = scratch / L"recovered", mine = scratch / L"dirty.reg",
                       windows = scratch / L"windows.reg";
    Place(recovered, {{user, WindowsHive(L"NewDirtyHive1\\RecoveredHive_Windows10")}});
    run = Revert(backup, L"/export:HKU\\" + Sid + L" /to:\"" + mine + L"\"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ("S-1-5-21-1-2-3-1001\\NTUSER.DAT read after its logs (4 entries)",
             Lines(run.output).at(2));
    CHECK_EQ(0u, Revert(recovered, L"/export:HKU\\" + Sid + L" /to:\"" + windows + L"\"").exitCode);
    CHECK_EQ(ReadFileBytes(windows), ReadFileBytes(mine));

    // Round trip: reg import puts the key into the registry, whose own calls read back what
    // hivex reads in the file. One value differs: Wine's reg import adds the missing NUL to a
    // REG_SZ, which Windows' does not.
    AtEnd removeKey{[] { DeleteKeyTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZelExport"); }};
    CHECK_EQ(0u,
             RunProgram(SystemDirectory() + L"\\reg.exe", L"import \"" + file + L"\"").exitCode);
    Strings expected = Lines(ReadFileBytes(HiveFile(L"export.reading.txt")));
    const std::string unterminated = "V - " + HexBytes(L"no terminator", 26) + " 1 610062006300";
    std::replace(expected.begin(), expected.end(), unterminated, unterminated + "0000");
    KeyHandle imported;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZelExport", 0, KEY_READ,
                          imported.put()) == ERROR_SUCCESS);
    CHECK_EQ(expected, KeyContents(imported.get()));

    // Refusals: each says why, writes nothing and leaves the backup as it was.
    const std::string to = " /to:" + Narrow(file);
    DeleteFileW(file.c_str());
    struct Row {
        std::wstring arguments;
        DWORD exitCode;
        std::string line;
    };
    const Row rows[] = {
        {L"/export:HKLM\\NoHive\\Key", 1,
         "(!) HKLM\\NoHive\\Key: names no hive of a backup; give HKLM\\SOFTWARE\\..., "
         "HKLM\\SYSTEM\\..., HKU\\<SID>\\... or the like"},
        {L"/export:HKLM\\SAM", 1,
         "(!) The backup holds no SAM, the hive of HKEY_LOCAL_MACHINE\\SAM"},
        {L"/export:HKLM\\SOFTWARE\\ZelExport\\Nowhere", 2,
         "(!) HKEY_LOCAL_MACHINE\\SOFTWARE\\ZelExport\\Nowhere does not exist in SOFTWARE"},
        {L"/export:HKLM\\SYSTEM", 2,
         "(!) SYSTEM failed its check: base block checksum is wrong at file offset 0x1FC, and its "
         "logs cannot mend it: no transaction log is beside the hive"},
        {L"/export:HKU\\.DEFAULT", 2, "(!) DEFAULT is Wine's text save, not a regf hive"},
        {L"/export:HKLM\\SOFTWARE /to:\"" + backup + L"\\..\\backup\\S.reg\"", 1,
         "(!) /to:" + Narrow(backup) +
             "\\..\\backup\\S.reg: the file would lie in the backup "
             "folder, which must not change"},
        {L"/diff:\"" + backup + L"\\.\"", 1,
         "(!) /diff:" + Narrow(backup) + "\\.: that is the backup folder itself"},
        {L"/export:HKLM\\SOFTWARE /to:\"" + file + L"\" /key:HKLM\\SYSTEM", 1,
         ReportLine("/key:HKLM\\SYSTEM", ERROR_INVALID_PARAMETER)},
    };
    for (const Row& row : rows) {
        Context context(row.line);
        const bool ownTo =
            row.arguments.find(L"/to:") != std::wstring::npos || row.arguments.find(L"/diff:") == 0;
        run = Revert(backup, row.arguments + (ownTo ? L"" : Widen(to)));
        CHECK_EQ(row.exitCode, run.exitCode);
        const Strings lines = Lines(run.output);
        CHECK(std::count(lines.begin(), lines.end(), row.line) == 1);
        CHECK(!FileExists(file));
        CHECK(before == TreeBytes(backup));
    }
    // A file that is there is never written over.
    WriteFileBytes(file, "kept");
    run = Revert(backup, L"/export:HKLM\\SOFTWARE" + Widen(to));
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ(ReportLine("(!) Unable to create " + Narrow(file), ERROR_FILE_EXISTS),
             Lines(run.output).back());
    CHECK_EQ(std::string("kept"), ReadFileBytes(file));
}

// Keys as the running system names them, to the hive file and its key; "" where none.
TEST(KeysMapToTheirHiveFiles) {
    const std::pair<const wchar_t*, std::wstring> rows[] = {
        {L"HKEY_LOCAL_MACHINE\\bcd00000000", L"BCD|HKEY_LOCAL_MACHINE\\BCD00000000|"},
        {L"HKLM\\Components\\x", L"COMPONENTS|HKEY_LOCAL_MACHINE\\COMPONENTS|x"},
        {L"HKU\\S-1-5-21-7_CLASSES\\CLSID",
         L"S-1-5-21-7\\UsrClass.dat|HKEY_USERS\\S-1-5-21-7_Classes|CLSID"},
        {L"HKLM", L""},
        {L"HKLM\\", L""},
        {L"HKCU\\Software", L""},
        {L"HKLM\\HARDWARE", L""},
        {L"HKU\\S-1-5-21-7.bak", L""},
        {L"HKLM\\SOFTWARE\\\\A", L""},
    };
    for (const auto& [given, expected] : rows) {
        Context row(Narrow(given));
        KeyInBackup key{};
        std::wstring got;
        if (ReadKeyPath(given, &key) == ERROR_SUCCESS) {
            got = std::wstring(key.label) + L"|" + key.hiveKey + L"|" +
                  std::wstring(key.below, key.belowLength);
            wchar_t hiveKey[MAX_PATH] = {};
            CHECK(HiveKeyOfLabel(key.label, hiveKey) && std::wstring(hiveKey) == key.hiveKey);
        }
        CHECK(expected == got);
    }
}

TEST(DiffTwoBackups) {
    ScratchFolder scratch{L"diff"};
    const std::wstring mine = scratch / L"new", theirs = scratch / L"old";
    // SOFTWARE changed; DEFAULT the same; SYSTEM only in this one, BCD and the classes hive only
    // in the other.
    Place(mine, {{L"SOFTWARE", HiveFile(L"diff_new.hive")},
                 {L"DEFAULT", HiveFile(L"good.hive")},
                 {L"SYSTEM", HiveFile(L"system.hive")}});
    Place(theirs, {{L"SOFTWARE", HiveFile(L"diff_old.hive")},
                   {L"BCD", HiveFile(L"good.hive")},
                   {L"DEFAULT", HiveFile(L"good.hive")},
                   {Sid + L"\\UsrClass.dat", HiveFile(L"minimal.hive")}});
    const std::map<std::wstring, std::string> before = TreeBytes(scratch.path());
    const std::string apps = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps";
    const Strings head = {Banner, "Backup folder: " + Narrow(mine),
                          "Compared with: " + Narrow(theirs)};
    const Strings kept = {"+ " + apps + "\\Kept] @", "+ " + apps + "\\Kept] \"added\"",
                          "~ " + apps + "\\Kept] \"changed\"", "- " + apps + "\\Kept] \"dropped\"",
                          "~ " + apps + "\\Kept] \"retyped\""};
    Strings lines = head;
    lines.push_back("- [HKEY_LOCAL_MACHINE\\BCD00000000] (hive BCD only in the other backup)");
    lines.push_back("- " + apps + "\\Gone] (3 subkeys)");
    lines.insert(lines.end(), kept.begin(), kept.end());
    lines.push_back("+ " + apps + "\\New] (1 subkey)");
    lines.push_back("+ [HKEY_LOCAL_MACHINE\\SYSTEM] (hive SYSTEM only in this backup)");
    lines.push_back("- [HKEY_USERS\\" + Narrow(Sid) + "_Classes] (hive " + Narrow(Sid) +
                    "\\UsrClass.dat only in the other backup)");
    lines.push_back(
        "Keys added: 2, removed: 4; values added: 2, removed: 1, changed: 2; hives in one backup "
        "only: 3");
    ProcessResult run = Revert(mine, L"/diff:\"" + theirs + L"\"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(lines, Lines(run.output));

    lines = head;
    lines.insert(lines.end(), kept.begin(), kept.end());
    lines.push_back(
        "Keys added: 0, removed: 0; values added: 2, removed: 1, changed: 2; hives in one backup "
        "only: 0");
    run = Revert(mine, L"/key:hklm\\software\\apps\\kept /diff:\"" + theirs + L"\"");
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(lines, Lines(run.output));

    // A hive that fails its check in either backup is named, and the run says so.
    WriteFileBytes(theirs + L"\\DEFAULT", ReadFileBytes(HiveFile(L"bad_checksum.hive")));
    run = Revert(mine, L"/diff:\"" + theirs + L"\" /key:HKU\\.DEFAULT");
    CHECK_EQ(2u, run.exitCode);
    CHECK_EQ((Strings{head[0], head[1], head[2],
                      "(!) DEFAULT in " + Narrow(theirs) +
                          " failed its check: base block checksum is wrong at file offset "
                          "0x1FC, and its logs cannot mend it: no transaction log is beside the "
                          "hive",
                      "Keys added: 0, removed: 0; values added: 0, removed: 0, changed: 0; hives "
                      "in one backup only: 0"}),
             Lines(run.output));
    WriteFileBytes(theirs + L"\\DEFAULT", ReadFileBytes(HiveFile(L"good.hive")));
    CHECK(before == TreeBytes(scratch.path()));

    // CurrentControlSet is the set Select\Current names, and goes back under its own name.
    const std::wstring file = scratch / L"zel.reg";
    run = Revert(mine, L"/export:HKLM\\SYSTEM\\CurrentControlSet\\Services\\Zel /to:" + file);
    CHECK_EQ(0u, run.exitCode);
    CHECK_EQ(
        "\xff\xfe" + Utf16Bytes(L"Windows Registry Editor Version 5.00\r\n\r\n"
                                L"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Zel]"
                                L"\r\n\"Number\"=dword:00000007\r\n\r\n"),
        ReadFileBytes(file));
}

}  // namespace
