// link_driver PROFILES DAYS CHANGED FOLDER
//
// Days of backups of a machine with PROFILES profiles that are not logged
// on, each with an NTUSER.DAT and a UsrClass.dat of 1 to 8 MiB (hives of
// realistic shape), of which CHANGED change every day. Each day is backed up
// twice through zel's own RunDatedBackup, the clock the run reads set to
// that day: into FOLDER\linked as zel does it, and into FOLDER\plain with
// links off (every file a copy of its own), the two taking turns to go
// first. Then every day of each is deleted as retention does. Prints one
// line on standard output:
//   linked S plain S linkedBytes N plainBytes N deleteLinked S deletePlain S
// the seconds are medians of a day's backup and the sum of the deletions;
// bytes are what each tree holds on disk, a file with several links counted
// once.
#include <windows.h>

#include <stdio.h>
#include <strsafe.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/startup.h"
#include "backup/dated_run.h"
#include "backup/retention.h"
#include "fs/secure_folder.h"
#include "realistic_hive.h"
#include "shared/console.h"
#include "shared/owned_handle.h"
#include "shared/platform.h"
#include "shared/privileges.h"
#include "state/run_state.h"
#include "timing.h"

namespace {

const std::wstring ProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring ClassesPath =
    L"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";

SYSTEMTIME Today;
void WINAPI ReadBenchClock(LPSYSTEMTIME time) { *time = Today; }

std::wstring ProfileSid(int profile) {
    return L"S-1-5-21-7-7-7-" + std::to_wstring(1000 + profile);
}

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
}

// A profile's two hives; `changes` above 0 makes them differ from every
// other version.
bool WriteProfileHives(const std::wstring& folder, int profile, DWORD changes) {
    const unsigned sizes[2] = {1 + profile % 8u, 1 + (profile + 3) % 8u};
    const std::wstring files[2] = {folder + L"\\NTUSER.DAT", folder + ClassesPath};
    for (int i = 0; i < 2; ++i) {
        MakeFolders(files[i]);
        RealisticHive made;
        if (!WriteRealisticHive(files[i].c_str(), sizes[i], 0, &made)) return false;
        if (changes > 0 && !WriteChangedHive(files[i].c_str(), changes)) return false;
    }
    return true;
}

// What a tree holds on disk, each file counted once whatever its links.
ULONGLONG BytesOnDisk(const std::wstring& folder, std::set<std::tuple<DWORD, DWORD, DWORD>>* seen) {
    ULONGLONG bytes = 0;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) return 0;
    do {
        const std::wstring name = entry.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            bytes += BytesOnDisk(path, seen);
            continue;
        }
        FileHandle file(
            CreateFileW(path.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        BY_HANDLE_FILE_INFORMATION information{};
        if (!file || !GetFileInformationByHandle(file.get(), &information)) continue;
        if (!seen->insert({information.dwVolumeSerialNumber, information.nFileIndexHigh,
                           information.nFileIndexLow})
                 .second) {
            continue;
        }
        DWORD high = 0;
        const DWORD low = GetCompressedFileSizeW(path.c_str(), &high);
        bytes += (ULONGLONG(high) << 32) | low;
    } while (FindNextFileW(listing.get(), &entry));
    return bytes;
}

double BackUp(const std::wstring& root, bool links, CreateHardLinkFn createHardLink) {
    Platform.createHardLink = links ? createHardLink : nullptr;
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root.c_str());
    CreateProtectedDirectory(BackupRoot);
    const double start = NowSeconds();
    RunDatedBackup();
    return NowSeconds() - start;
}

double DeleteDays(const std::wstring& root, const std::vector<std::wstring>& days) {
    const double start = NowSeconds();
    for (const std::wstring& day : days) DeleteFolder((root + L"\\" + day).c_str());
    return NowSeconds() - start;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5 || _wtoi(argv[1]) < 1 || _wtoi(argv[2]) < 2 || _wtoi(argv[3]) < 0) {
        fprintf(stderr, "usage: link_driver PROFILES DAYS CHANGED FOLDER\n");
        return 2;
    }
    const int profiles = _wtoi(argv[1]), days = _wtoi(argv[2]), changed = _wtoi(argv[3]);
    const std::wstring folder = argv[4], linked = folder + L"\\linked", plain = folder + L"\\plain";
    CaptureStartupValues();
    EnableBackupPrivileges();
    SilenceConsole();  // standard output carries the one line of figures
    const CreateHardLinkFn createHardLink = Platform.createHardLink;
    Platform.getLocalTime = ReadBenchClock;

    for (int profile = 0; profile < profiles; ++profile) {
        const std::wstring home = folder + L"\\profiles\\" + std::to_wstring(profile);
        if (!WriteProfileHives(home, profile, 0)) {
            fprintf(stderr, "link_driver: cannot write the hives of %ls\n", home.c_str());
            return 1;
        }
        HKEY key = nullptr;
        RegCreateKeyW(HKEY_LOCAL_MACHINE, (ProfileList + L"\\" + ProfileSid(profile)).c_str(),
                      &key);
        RegSetValueExW(key, L"ProfileImagePath", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(home.c_str()),
                       static_cast<DWORD>((home.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    std::vector<double> linkedSeconds, plainSeconds;
    std::vector<std::wstring> names;
    for (int day = 0; day < days; ++day) {
        // The days of one month and the next, as many as asked.
        FILETIME first{}, then{};
        SYSTEMTIME start{};
        start.wYear = 2030, start.wMonth = 1, start.wDay = 1;
        SystemTimeToFileTime(&start, &first);
        ULARGE_INTEGER value{};
        value.LowPart = first.dwLowDateTime, value.HighPart = first.dwHighDateTime;
        value.QuadPart += ULONGLONG(day) * 86400 * 10000000;
        then.dwLowDateTime = value.LowPart, then.dwHighDateTime = value.HighPart;
        FileTimeToSystemTime(&then, &Today);
        wchar_t name[16];
        StringCchPrintfW(name, ARRAYSIZE(name), L"%04d-%02d-%02d", Today.wYear, Today.wMonth,
                         Today.wDay);
        names.push_back(name);
        // The users who logged on since the day before.
        for (int i = 0; day > 0 && i < changed; ++i) {
            const int profile = (day * changed + i) % profiles;
            WriteProfileHives(folder + L"\\profiles\\" + std::to_wstring(profile), profile, day);
        }
        const bool linkedFirst = day % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool links = (turn == 0) == linkedFirst;
            const double seconds = BackUp(links ? linked : plain, links, createHardLink);
            // The first day has nothing to link to.
            if (day > 0) (links ? linkedSeconds : plainSeconds).push_back(seconds);
        }
    }

    std::set<std::tuple<DWORD, DWORD, DWORD>> seenLinked, seenPlain;
    const ULONGLONG linkedBytes = BytesOnDisk(linked, &seenLinked);
    const ULONGLONG plainBytes = BytesOnDisk(plain, &seenPlain);
    Platform.createHardLink = createHardLink;
    const double deletePlain = DeleteDays(plain, names);
    const double deleteLinked = DeleteDays(linked, names);

    for (int profile = 0; profile < profiles; ++profile)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (ProfileList + L"\\" + ProfileSid(profile)).c_str());
    printf(
        "linked %.6f plain %.6f linkedBytes %llu plainBytes %llu deleteLinked %.6f "
        "deletePlain %.6f\n",
        Median(linkedSeconds), Median(plainSeconds), linkedBytes, plainBytes, deleteLinked,
        deletePlain);
    return 0;
}
