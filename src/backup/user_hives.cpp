#include "backup/user_hives.h"

#include <strsafe.h>
#include <wchar.h>

#include "backup/hive_result.h"
#include "backup/key_save.h"
#include "backup/live_copy.h"
#include "backup/machine_hive.h"
#include "backup/reparse_point.h"
#include "backup/sid_name.h"
#include "fs/secure_folder.h"
#include "report/hive_report.h"
#include "report/run_result.h"
#include "shared/console.h"
#include "shared/entry_name.h"
#include "shared/location_text.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "state/run_state.h"

namespace {

// A profile's folder as the profile list gives it, to reach its files by,
// and upper-cased, to tell where they lie. Both name the same folder; the
// one as given spares the file system a search for another case.
struct ProfilePaths {
    wchar_t reach[SystemTextCapacity + 1];
    wchar_t told[SystemTextCapacity + 1];
};

constexpr wchar_t ProfileListKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t LocalSystemSid[] = L"S-1-5-18";
constexpr wchar_t ClassesSuffix[] = L"_Classes";

// The live UsrClass.dat, to reach it by and to tell it by (in upper case):
// Local Settings and Application Data may each be a junction or link into
// the newer profile layout.
bool BuildClassesPath(wchar_t* path, wchar_t* told, const ProfilePaths& profile) {
    if (!BuildPath(path, SystemTextCapacity, profile.reach, L"Local Settings") ||
        !BuildPath(told, SystemTextCapacity, profile.told, L"Local Settings")) {
        return false;
    }
    ResolveReparsePoint(path, told);
    if (!JoinPath(path, SystemTextCapacity, L"Application Data") ||
        !JoinPath(told, SystemTextCapacity, L"Application Data")) {
        return false;
    }
    ResolveReparsePoint(path, told);
    return JoinPath(path, SystemTextCapacity, L"Microsoft\\Windows\\UsrClass.dat") &&
           JoinPath(told, SystemTextCapacity, L"Microsoft\\Windows\\UsrClass.dat");
}

// Records where the live hive lies, without its drive letter and colon.
void WriteLocation(const wchar_t* sidFolder, const wchar_t* fileName, const wchar_t* livePath) {
    wchar_t textPath[SystemTextCapacity];
    // Like any text file that cannot be written, one whose name does not fit
    // is left out.
    if (!BuildPath(textPath, ARRAYSIZE(textPath), sidFolder, fileName)) return;
    WriteTextFile(textPath, WithoutDrive(livePath));
}

// A profile hive's path inside the backup: its SID folder and its name.
const wchar_t* InBackup(const wchar_t* target) {
    const wchar_t* name = wcsrchr(target, L'\\');
    if (!name) return target;
    while (name > target && name[-1] != L'\\') --name;
    return name;
}

// A hive that cannot even be named: its failure line, counted.
void FailHive(HiveTally* tally, const wchar_t* name, DWORD code) {
    PrintHiveFailed(name, code);
    CountHive(tally, name, HiveOutcome::Failed);
}

// Saves HKEY_USERS\keyName, or copies livePath when the key is missing, to
// folder\baseName + extension, with `copier` (or nullptr). None when the
// hive is neither loaded nor on disk (a stale profile): then nothing is printed.
HiveOutcome SaveUserHive(const wchar_t* keyName, const wchar_t* livePath, const wchar_t* baseName,
                         const wchar_t* folder, const wchar_t* extension, LinkSources* links,
                         HiveCopier* copier) {
    auto failed = [keyName](DWORD code) {
        PrintHiveFailed(keyName, code);
        return HiveOutcome::Failed;
    };
    auto concluded = [](bool stands) { return stands ? HiveOutcome::Saved : HiveOutcome::Failed; };
    wchar_t target[SystemTextCapacity];
    if (!BuildPath(target, ARRAYSIZE(target), folder, baseName) ||
        FAILED(StringCchCatW(target, ARRAYSIZE(target), extension))) {
        return failed(ERROR_FILENAME_EXCED_RANGE);
    }

    if (SaveKeyToFile(target, keyName, HKEY_USERS)) return concluded(ConcludeHive(keyName, target));
    if (LastSaveError != ERROR_FILE_NOT_FOUND) return failed(LastSaveError);

    // The hive is not loaded: copy its file instead, or link to an earlier
    // backup's copy of the same bytes.
    if (links && LinkUnchangedSource(links, livePath, InBackup(target), target)) {
        return concluded(ConcludeCopiedHive(keyName, livePath, target));
    }
    HiveCheckResult verdict;
    DWORD logs = ERROR_SUCCESS;
    if (CopyLiveHive(copier, livePath, target, &verdict, &logs)) {
        return concluded(ConcludeCheckedHive(keyName, target, verdict, logs));
    }
    // Neither loaded nor on disk: a stale profile, nothing to report. A copy
    // that vanished before its check is not one: the live file is there.
    if ((LastCopyError == ERROR_FILE_NOT_FOUND || LastCopyError == ERROR_PATH_NOT_FOUND) &&
        GetFileAttributesW(livePath) == INVALID_FILE_ATTRIBUTES) {
        return HiveOutcome::None;
    }
    return failed(LastCopyError);
}

// Expands environment references in a 2048-character path buffer in place;
// an expansion that does not fit leaves the buffer as it was.
void ExpandInPlace(wchar_t* path) {
    wchar_t expanded[RootPathCapacity];
    DWORD needed = ExpandEnvironmentStringsW(path, expanded, ARRAYSIZE(expanded));
    if (needed == 0 || needed > ARRAYSIZE(expanded)) return;
    size_t length = 0;
    if (FAILED(StringCchLengthW(expanded, SystemTextCapacity, &length))) return;
    StringCchCopyW(path, SystemTextCapacity, expanded);
}

void BackupProfile(const wchar_t* backupFolder, const wchar_t* profileName, LinkSources* links,
                   HiveCopier* copier, HiveTally* tally) {
    // Only one plain name shaped like a SID is joined into paths; joined,
    // others could lead outside the backup (C:, .., ../../x). Such a key is
    // named as a failure and never used.
    if (!IsSingleName(profileName) || !LooksLikeSid(profileName)) {
        FailHive(tally, profileName, ERROR_INVALID_NAME);
        return;
    }
    // Room for the classes suffix after the longest name the list can give.
    wchar_t keyName[SystemTextCapacity + ARRAYSIZE(ClassesSuffix) - 1];
    StringCchCopyW(keyName, SystemTextCapacity, profileName);
    UpperCaseInPlace(keyName);
    if (wcscmp(keyName, LocalSystemSid) == 0) return;

    // Registry key names are at most 255 characters, so this always fits.
    wchar_t profileKeyPath[SystemTextCapacity];
    if (FAILED(StringCchPrintfW(profileKeyPath, ARRAYSIZE(profileKeyPath), L"%s\\%s",
                                ProfileListKey, profileName))) {
        return;
    }
    KeyHandle profileKey;
    if (OpenMachineKey(profileKeyPath, profileKey.put()) != ERROR_SUCCESS) return;

    // One character more than the query may fill, for the terminator.
    wchar_t profilePath[SystemTextCapacity + 1];
    ProfilePaths profile;
    DWORD type = REG_NONE;
    DWORD bytes = SystemTextCapacity * sizeof(wchar_t);
    if (RegQueryValueExW(profileKey.get(), L"ProfileImagePath", nullptr, &type,
                         reinterpret_cast<BYTE*>(profilePath), &bytes) != ERROR_SUCCESS) {
        return;
    }
    // A path of any other type would have no defined end.
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return;
    profilePath[bytes / sizeof(wchar_t)] = L'\0';  // an odd last byte is dropped

    wchar_t sidFolder[SystemTextCapacity];
    if (!BuildPath(sidFolder, ARRAYSIZE(sidFolder), backupFolder, keyName)) {
        FailHive(tally, keyName, ERROR_FILENAME_EXCED_RANGE);
        StringCchCatW(keyName, ARRAYSIZE(keyName), ClassesSuffix);
        FailHive(tally, keyName, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    // It inherits the work folder's protected permissions.
    CreateDirectoryW(sidFolder, nullptr);

    // Upper-cased before expansion, so that expanded text keeps its own case.
    StringCchCopyW(profile.reach, ARRAYSIZE(profile.reach), profilePath);
    ExpandInPlace(profile.reach);
    UpperCaseInPlace(profilePath);
    ExpandInPlace(profilePath);
    StringCchCopyW(profile.told, ARRAYSIZE(profile.told), profilePath);

    wchar_t liveHive[SystemTextCapacity];
    wchar_t told[SystemTextCapacity];
    if (!BuildPath(liveHive, ARRAYSIZE(liveHive), profile.reach, L"NTUSER.DAT") ||
        !BuildPath(told, ARRAYSIZE(told), profile.told, L"NTUSER.DAT")) {
        FailHive(tally, keyName, ERROR_FILENAME_EXCED_RANGE);
    } else {
        const HiveOutcome outcome =
            SaveUserHive(keyName, liveHive, L"NTUSER", sidFolder, L".DAT", links, copier);
        if (outcome == HiveOutcome::Saved) WriteLocation(sidFolder, L"NTUSER.DAT.txt", told);
        CountHive(tally, keyName, outcome);
    }

    StringCchCatW(keyName, ARRAYSIZE(keyName), ClassesSuffix);
    if (!BuildClassesPath(liveHive, told, profile)) {
        FailHive(tally, keyName, ERROR_FILENAME_EXCED_RANGE);
    } else {
        const HiveOutcome outcome =
            SaveUserHive(keyName, liveHive, L"UsrClass", sidFolder, L".dat", links, copier);
        if (outcome == HiveOutcome::Saved) WriteLocation(sidFolder, L"UsrClass.dat.txt", told);
        CountHive(tally, keyName, outcome);
    }
}

}  // namespace

void BackupUserHives(const wchar_t* folder, LinkSources* links, HiveTally* tally) {
    KeyHandle profileList;
    if (OpenMachineKey(ProfileListKey, profileList.put()) != ERROR_SUCCESS) return;

    // The profiles' hive files are copied one after another.
    HiveCopier copier;
    wchar_t profileName[SystemTextCapacity];
    for (DWORD index = 0;
         RegEnumKeyW(profileList.get(), index, profileName, SystemTextCapacity) == ERROR_SUCCESS;
         ++index) {
        BackupProfile(folder, profileName, links, &copier, tally);
    }
}
