// profiles_driver ROUNDS FOLDER COUNT...
//
// What a profile costs a backup. For each COUNT, that many profiles that are
// not logged on, each with an NTUSER.DAT and a UsrClass.dat of about 256 KiB
// (hives of realistic shape), are listed in ProfileList. Each round then
// times zel's own BackupUserHives into a fresh protected folder (a work
// folder's DACL, as a backup makes it) against three baselines, all taking
// turns to go first:
//   copies     CopyFileW of the same files into SID folders of a plain folder;
//   protected  the same copies into a protected folder like zel's;
//   layout     those protected copies with the two location texts a backup
//              adds to each SID folder, written by zel's WriteTextFile (the
//              path as given, where zel writes it upper-cased: same length).
// Prints one line per COUNT on standard output:
//   profiles N zel S copies S protected S layout S
// the medians of ROUNDS rounds, in seconds.
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "app/startup.h"
#include "backup/retention.h"
#include "backup/user_hives.h"
#include "fs/secure_folder.h"
#include "realistic_hive.h"
#include "shared/console.h"
#include "shared/location_text.h"
#include "shared/privileges.h"
#include "timing.h"

namespace {

const std::wstring ProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring ClassesPath =
    L"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";

std::wstring ProfileSid(int profile) {
    return L"S-1-5-21-8-8-8-" + std::to_wstring(1000 + profile);
}

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
}

struct Profile {
    std::wstring sid, ntuser, classes;
};

void ListProfile(const Profile& profile, const std::wstring& home) {
    HKEY key = nullptr;
    RegCreateKeyW(HKEY_LOCAL_MACHINE, (ProfileList + L"\\" + profile.sid).c_str(), &key);
    RegSetValueExW(key, L"ProfileImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(home.c_str()),
                   static_cast<DWORD>((home.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

double TimeZel(const std::wstring& target) {
    CreateProtectedDirectory(target.c_str());
    HiveTally tally;
    const double start = NowSeconds();
    BackupUserHives(target.c_str(), nullptr, &tally);
    return NowSeconds() - start;
}

enum Variant { Zel, Copies, Protected, Layout, Variants };

double TimeCopies(const std::vector<Profile>& profiles, const std::wstring& target,
                  Variant variant) {
    if (variant == Copies)
        CreateDirectoryW(target.c_str(), nullptr);
    else
        CreateProtectedDirectory(target.c_str());
    const bool texts = variant == Layout;
    const double start = NowSeconds();
    for (const Profile& profile : profiles) {
        const std::wstring folder = target + L"\\" + profile.sid;
        CreateDirectoryW(folder.c_str(), nullptr);
        CopyFileW(profile.ntuser.c_str(), (folder + L"\\NTUSER.DAT").c_str(), FALSE);
        if (texts)
            WriteTextFile((folder + L"\\NTUSER.DAT.txt").c_str(), profile.ntuser.c_str() + 2);
        CopyFileW(profile.classes.c_str(), (folder + L"\\UsrClass.dat").c_str(), FALSE);
        if (texts)
            WriteTextFile((folder + L"\\UsrClass.dat.txt").c_str(), profile.classes.c_str() + 2);
    }
    return NowSeconds() - start;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4 || _wtoi(argv[1]) < 1) {
        fprintf(stderr, "usage: profiles_driver ROUNDS FOLDER COUNT...\n");
        return 2;
    }
    const int rounds = _wtoi(argv[1]);
    const std::wstring folder = argv[2];
    CaptureStartupValues();
    EnableBackupPrivileges();
    SilenceConsole();  // standard output carries the figures

    // One hive of about 256 KiB, the same bytes for every profile.
    const std::wstring model = folder + L"\\model.hive";
    MakeFolders(model);
    RealisticHive made;
    if (!WriteRealisticHive(model.c_str(), 0, 300, &made)) {
        fprintf(stderr, "profiles_driver: cannot write %ls\n", model.c_str());
        return 1;
    }
    std::vector<Profile> profiles;
    for (int c = 3; c < argc; ++c) {
        const int count = _wtoi(argv[c]);
        while (static_cast<int>(profiles.size()) < count) {
            const int index = static_cast<int>(profiles.size());
            const std::wstring home = folder + L"\\users\\" + std::to_wstring(index);
            Profile profile{ProfileSid(index), home + L"\\NTUSER.DAT", home + ClassesPath};
            MakeFolders(profile.ntuser);
            MakeFolders(profile.classes);
            CopyFileW(model.c_str(), profile.ntuser.c_str(), FALSE);
            CopyFileW(model.c_str(), profile.classes.c_str(), FALSE);
            ListProfile(profile, home);
            profiles.push_back(profile);
        }
        const wchar_t* const names[Variants] = {L"zel", L"copy", L"protected", L"layout"};
        std::vector<double> seconds[Variants];
        for (int round = 0; round <= rounds; ++round) {  // round 0 warms up
            const std::wstring tag = std::to_wstring(count) + L"-" + std::to_wstring(round);
            std::wstring targets[Variants];
            double taken[Variants] = {};
            for (int turn = 0; turn < Variants; ++turn) {
                const Variant which = static_cast<Variant>((round + turn) % Variants);
                targets[which] = folder + L"\\" + names[which] + tag;
                taken[which] = which == Zel ? TimeZel(targets[which])
                                            : TimeCopies(profiles, targets[which], which);
            }
            for (const std::wstring& target : targets) DeleteFolder(target.c_str());
            if (round == 0) continue;
            for (int which = 0; which < Variants; ++which) seconds[which].push_back(taken[which]);
        }
        printf("profiles %d zel %.6f copies %.6f protected %.6f layout %.6f\n", count,
               Median(seconds[Zel]), Median(seconds[Copies]), Median(seconds[Protected]),
               Median(seconds[Layout]));
    }
    for (const Profile& profile : profiles)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (ProfileList + L"\\" + profile.sid).c_str());
    return 0;
}
