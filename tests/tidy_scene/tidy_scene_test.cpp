// tidy under Wine: an offline installation packed for real by tidy_x64.exe
// run as a child, and the online road's scheduling through its two seams.
#include "shared/kept_files.h"
#include "shared/platform.h"
#include "shared/privileges.h"
#include "shared/system_entry.h"
#include "support/support.h"
#include "tidy/offline_road.h"
#include "tidy/online_road.h"
#include "tidy/packed_copy.h"
#include "tidy/run_state.h"

namespace {

const std::wstring Scene = L"Software\\tidy-scene";  // under HKEY_CURRENT_USER

// A Wine text hive saved from a key where `keys` keys were added and two in
// three deleted again; what it holds.
Strings MakeHive(const std::wstring& file, int keys) {
    const std::wstring top = Scene + L"\\hive";
    for (int i = 0; i < keys; ++i) {
        const std::wstring key = top + L"\\k" + std::to_wstring(i);
        SetStringValue(HKEY_CURRENT_USER, key + L"\\deep", L"text", std::wstring(i % 50, L'x'),
                       REG_EXPAND_SZ);
        if (RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"", REG_DWORD, &i, sizeof(i)) == 0 &&
            i % 3 != 0)
            DeleteKeyTree(HKEY_CURRENT_USER, key);
    }
    KeyHandle hive;
    RegOpenKeyExW(HKEY_CURRENT_USER, top.c_str(), 0, KEY_READ, hive.put());
    CHECK_EQ(ERROR_SUCCESS, RegSaveKeyW(hive.get(), file.c_str(), nullptr));
    const Strings held = KeyContents(hive.get());
    hive.reset();
    DeleteKeyTree(HKEY_CURRENT_USER, top);
    return held;
}

std::vector<std::wstring> Calls;
LSTATUS WINAPI RecordReplace(HKEY, LPCWSTR subkey, LPCWSTR newFile, LPCWSTR oldFile) {
    Calls.push_back(std::wstring(subkey) + L"|" + newFile + L"|" + oldFile);
    return ERROR_SUCCESS;
}
LSTATUS WINAPI SaveJunk(HKEY, LPCWSTR file, LPSECURITY_ATTRIBUTES, DWORD) {
    return WriteFileBytes(file, "junk") ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

}  // namespace

// SYSTEM and SOFTWARE are packed; DEFAULT, written tight by hand, would only
// grow and stays as it is; SAM is no hive, so its load fails; SECURITY is
// missing beside a file tidy kept, which only a person can judge; DRIVERS and
// COMPONENTS are missing. Before all, the scratch key of a run that ended is
// unloaded, and one of a run that lives is left. With /n first, then for real.
TEST(OfflineInstallationPackedForReal) {
    REQUIRE(EnableBackupPrivileges() == ERROR_SUCCESS);
    ScratchFolder root(L"tidyoffline");
    const std::wstring folder = L"Windows\\System32\\config\\", config = root / folder;
    std::map<std::wstring, Strings> held;
    for (const wchar_t* hive : {L"SYSTEM", L"SOFTWARE"}) {
        REQUIRE(WriteFileBytes(config + hive + L".LOG1", "old log"));
        held[hive] = MakeHive(config + hive, 400);
    }
    const std::string tight = "WINE REGISTRY Version 2\n[k]\n@=\"v\"\n";
    REQUIRE(WriteFileBytes(config + L"DEFAULT", tight));
    REQUIRE(WriteFileBytes(config + L"SAM", "not a hive\n"));
    REQUIRE(WriteFileBytes(config + L"SECURITY.tidy-20250101-000000", "kept"));
    wchar_t ours[32];
    swprintf(ours, ARRAYSIZE(ours), L"TIDY-%08lX", GetCurrentProcessId());
    for (const wchar_t* key : {L"TIDY-7FFFFFFC", static_cast<const wchar_t*>(ours)}) {
        MakeHive(root / key, 3);
        REQUIRE(RegLoadKeyW(HKEY_LOCAL_MACHINE, key, (root / key).c_str()) == ERROR_SUCCESS);
    }
    std::map<std::wstring, std::string> original = TreeBytes(root.path());
    const std::wstring tidy = BuiltProgram(L"tidy_x64.exe");

    ProcessResult dry = RunProgram(tidy, L"/n /offline:" + root.path());
    CHECK_EQ(original, TreeBytes(root.path()));
    CHECK(!KeyExists(HKEY_LOCAL_MACHINE, L"TIDY-7FFFFFFC") && KeyExists(HKEY_LOCAL_MACHINE, ours));
    ProcessResult real = RunProgram(tidy, L"/offline:" + root.path());
    wchar_t stamp[StampCapacity] = L"";
    REQUIRE(FindStampedName((config + L"SYSTEM").c_str(), L"tidy", L"", stamp));
    Strings lines = {Narrow(L"TIDY - " VERSION_BANNER)}, dryLines = lines;
    dryLines.push_back("HKLM\\TIDY-7FFFFFFC: unloaded, its run has ended");
    size_t before = tight.size(), after = tight.size();
    for (const wchar_t* hive : {L"SYSTEM", L"SOFTWARE"}) {
        const std::string& old = original[folder + hive];
        const size_t size = ReadFileBytes(config + hive).size();
        const std::string sizes = Narrow(hive) + ": " + std::to_string(old.size()) + " -> " +
                                  std::to_string(size) + " bytes, ";
        lines.push_back(sizes + "packed");
        dryLines.push_back(sizes + "would be packed");
        before += old.size();
        after += size;
        CHECK_EQ(old, ReadFileBytes(config + hive + L".tidy-" + stamp));
        CHECK_EQ(std::string("old log"), ReadFileBytes(config + hive + L".LOG1.tidy-" + stamp));
        KeyHandle loaded;  // what the packed file holds, through the registry
        RegLoadKeyW(HKEY_LOCAL_MACHINE, L"tidy-scene", (config + hive).c_str());
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"tidy-scene", 0, KEY_READ, loaded.put());
        CHECK_EQ(held[hive], KeyContents(loaded.get()));
        loaded.reset();
        RegUnLoadKeyW(HKEY_LOCAL_MACHINE, L"tidy-scene");
    }
    // DEFAULT's copy is as large as Wine writes it: only that it grew is known here.
    const std::string grown = "DEFAULT: " + std::to_string(tight.size()) + " -> ";
    for (const std::string& line : Lines(real.output))
        if (line.rfind(grown, 0) == 0 && std::stoul(line.substr(grown.size())) > tight.size())
            for (Strings* each : {&lines, &dryLines})
                each->push_back(grown + std::to_string(std::stoul(line.substr(grown.size()))) +
                                " bytes, not smaller, left as it is");
    for (Strings* each : {&lines, &dryLines})
        each->insert(
            each->end(),
            {ReportLine("SAM: loading failed", ERROR_NOT_REGISTRY_FILE),
             ReportLine("SECURITY: missing beside files tidy kept; put the right one back by hand",
                        ERROR_FILE_NOT_FOUND),
             "DRIVERS: not present, passed over", "COMPONENTS: not present, passed over",
             "Total: " + std::to_string(before) + " -> " + std::to_string(after) + " bytes"});
    CHECK_EQ(dryLines, Lines(dry.output));
    CHECK_EQ(lines, Lines(real.output));
    CHECK(dry.exitCode == 2 && real.exitCode == 2);
    // Each packed hive and its log were kept; the others are as they were.
    CHECK_EQ(original.size() + 2, ListTree(root.path()).size());
    for (const wchar_t* file : {L"DEFAULT", L"SAM", L"SECURITY.tidy-20250101-000000"})
        CHECK_EQ(original[folder + file], ReadFileBytes(config + file));
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, ours) && RegUnLoadKeyW(HKEY_LOCAL_MACHINE, ours) == 0);
    wchar_t name[256];
    for (DWORD i = 0; RegEnumKeyW(HKEY_LOCAL_MACHINE, i, name, ARRAYSIZE(name)) == 0; ++i)
        CHECK(wcsncmp(name, L"TIDY-", 5) != 0);
    ProcessResult refused = RunProgram(tidy, L"/n /N");
    CHECK(refused.exitCode == 1 &&
          Lines(refused.output).front() == ReportLine("/N", ERROR_INVALID_PARAMETER));
}

// Run by KilledBetweenRenames in a process of its own.
TEST(ChildTidy) {
    REQUIRE(EnableBackupPrivileges() == ERROR_SUCCESS);
    CountSteps();
    TidyRun run;
    PackOfflineInstallation(&run, ChildSetting().c_str());
}

// tidy killed before SYSTEM is kept aside, between its renames, and before
// the packed copy takes its name: /n leaves it to a real run, which puts the
// kept files back and packs the hive afresh. Where the last move fails, the
// kept files are back at once. A copy that fails its check never goes in.
TEST(KilledBetweenRenames) {
    REQUIRE(EnableBackupPrivileges() == ERROR_SUCCESS);
    ScratchFolder root(L"tidykill");
    const std::wstring config = root / L"Windows\\System32\\config", system = config + L"\\SYSTEM";
    REQUIRE(WriteFileBytes(system + L".LOG1", "old log"));
    MakeHive(system, 40);
    const std::map<std::wstring, std::string> original = TreeBytes(config);
    const std::wstring tidy = BuiltProgram(L"tidy_x64.exe");
    auto reset = [&] {
        RemoveTree(config);
        for (const auto& [name, bytes] : original) WriteFileBytes(config + L"\\" + name, bytes);
    };
    // Steps: 1 SYSTEM kept aside, 2 its .LOG1, 3 and 4 .LOG2 and .LOG (absent), 5 the copy in.
    for (int step : {1, 2, 5}) {
        Context context("killed before step " + std::to_string(step));
        reset();
        HeldChild child("ChildTidy", step, config);
        REQUIRE(child.Held());
        child.Kill();
        wchar_t killed[StampCapacity] = L"", stamp[StampCapacity] = L"";
        FindStampedName(system.c_str(), L"tidy", L".new", killed);
        const std::map<std::wstring, std::string> left = TreeBytes(config);
        CHECK_EQ(step > 1 ? 2u : 0u, RunProgram(tidy, L"/n /offline:" + root.path()).exitCode);
        CHECK_EQ(step > 1 ? left : original, TreeBytes(config));
        const Strings lines = Lines(RunProgram(tidy, L"/offline:" + root.path()).output);
        REQUIRE(FindStampedName(system.c_str(), L"tidy", L"", stamp) && lines.size() > 2);
        CHECK_EQ(step > 1,
                 lines[1] == "SYSTEM: put back as it was before the run of " + Narrow(killed));
        CHECK_EQ((Names{L"SYSTEM", L"SYSTEM.LOG1.tidy-" + std::wstring(stamp),
                        L"SYSTEM.tidy-" + std::wstring(stamp)}),
                 ListTree(config));
        CHECK_EQ(original.at(L"SYSTEM"), ReadFileBytes(system + L".tidy-" + stamp));
        CHECK_EQ(std::string("old log"), ReadFileBytes(system + L".LOG1.tidy-" + stamp));
    }
    reset();
    {
        HeldChild child("ChildTidy", 5, config);
        REQUIRE(child.Held());
        wchar_t stamp[StampCapacity] = L"";
        REQUIRE(FindStampedName(system.c_str(), L"tidy", L".new", stamp));
        FileHandle work(CreateFileW((system + L".tidy-" + stamp + L".new").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        child.Finish();
    }
    RunProgram(tidy, L"/n /offline:" + root.path());  // clears the work file it left
    CHECK_EQ(original, TreeBytes(config));

    {
        SwapCall junk(Platform.regSaveKeyEx, SaveJunk);
        TidyRun run;
        PackOfflineInstallation(&run, config.c_str());
        CHECK(run.failed);
    }
    CHECK_EQ(original, TreeBytes(config));
}

// Only a packed copy that passed its check and is smaller is scheduled, and
// with /n none is.
TEST(OnlineRoadSchedulesOnlyCheckedSmallerCopies) {
    REQUIRE(EnableBackupPrivileges() == ERROR_SUCCESS);
    ScratchFolder folder(L"tidyonline");
    const RegSaveKeyExFn realSave = Platform.regSaveKeyEx;
    SwapCall recorder(Platform.regReplaceKey, RecordReplace);
    SwapCall save(Platform.regSaveKeyEx, realSave);
    // Tight's copy is not smaller, Broken's fails the check, Gone has no key to save.
    const struct {
        const wchar_t* name;
        size_t liveBytes;
        bool junk;
        bool scheduled;
    } rows[] = {{L"Grown", 65536, false, true},
                {L"Tight", 16, false, false},
                {L"Broken", 65536, true, false},
                {L"Gone", 65536, false, false}};
    for (bool dryRun : {true, false}) {
        TidyRun run;
        run.dryRun = dryRun;
        Calls.clear();
        for (const auto& row : rows) {
            LiveHive hive = {L"", HKEY_CURRENT_USER, L"", L""};
            wcscpy(hive.name, row.name);
            wcscpy(hive.subkey, (Scene + L"\\" + row.name).c_str());
            wcscpy(hive.file, (folder / row.name).c_str());
            if (wcscmp(row.name, L"Gone") != 0)
                SetStringValue(HKEY_CURRENT_USER, hive.subkey, L"v", L"kept");
            REQUIRE(WriteFileBytes(hive.file, std::string(row.liveBytes, 'x')));
            Platform.regSaveKeyEx = row.junk ? SaveJunk : realSave;
            PackLiveHive(&run, hive, L"20250101-000000");
            CHECK_EQ(!dryRun && row.scheduled, FileExists(folder / row.name + L".tidy-new"));
            CHECK_EQ(std::string(row.liveBytes, 'x'), ReadFileBytes(hive.file));
        }
        const std::wstring grown = Scene + L"\\Grown|" + folder / L"Grown.tidy-new|" +
                                   folder / L"Grown.tidy-20250101-000000";
        CHECK_EQ(dryRun ? std::vector<std::wstring>{} : std::vector<std::wstring>{grown}, Calls);
        CHECK(run.failed && run.scheduledHives == (dryRun ? 0 : 1));
    }
    DeleteKeyTree(HKEY_CURRENT_USER, Scene);
}
