// phase_driver ROUNDS FOLDER
//
// Runs the steps of one day's backup ROUNDS times in this process, each round
// into a fresh root under FOLDER, and reports the median time of each step on
// standard error, one line each: MILLISECONDS <tab> STEP. Standard output
// carries the steps' own console lines. It shows where the time of a backup
// goes beyond the saves that the baseline makes as well.
#include <windows.h>

#include <stdio.h>
#include <strsafe.h>

#include <vector>

#include "app/startup.h"
#include "backup/boot_store.h"
#include "backup/machine_hive.h"
#include "backup/retention.h"
#include "backup/user_hives.h"
#include "backup/work_folder.h"
#include "fs/directory_probe.h"
#include "fs/secure_folder.h"
#include "report/run_log.h"
#include "shared/location_text.h"
#include "shared/path_join.h"
#include "shared/privileges.h"
#include "state/run_state.h"
#include "timing.h"

namespace {

struct Step {
    const wchar_t* name;
    std::vector<double> seconds;
};

std::vector<Step> Steps;

template <class Work>
void Time(size_t index, const wchar_t* name, Work work) {
    if (Steps.size() <= index) Steps.push_back(Step{name, {}});
    const double start = NowSeconds();
    work();
    Steps[index].seconds.push_back(NowSeconds() - start);
}

void SaveHive(HKEY root, const wchar_t* name, const wchar_t* subkey) {
    SaveMachineHive(root, name, subkey);
}

wchar_t Root[MAX_PATH], Dated[MAX_PATH], Work[MAX_PATH], Aside[MAX_PATH];
FileHandle Lock;

void RunOneBackup(const wchar_t* root) {
    size_t step = 0;
    StringCchCopyW(Root, ARRAYSIZE(Root), root);
    StringCchPrintfW(Dated, ARRAYSIZE(Dated), L"%s\\2000-01-01", root);
    StringCchPrintfW(Work, ARRAYSIZE(Work), L"%s.partial", Dated);
    StringCchPrintfW(Aside, ARRAYSIZE(Aside), L"%s.replaced", Dated);
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root);
    Time(step++, L"backup root folder", [] { CreateProtectedDirectory(Root); });
    Time(step++, L"run lock", [] {
        DWORD error = 0;
        Lock = TakeRunLock(Root, &error);
    });
    Time(step++, L"purge before the run", [] {
        RecoverReplacedFolder(Dated, Aside);
        PurgeOldBackups(Root);
    });
    Time(step++, L"work folder", [] {
        WIN32_FIND_DATAW entry;
        IsDirectory(Dated, &entry);
        RemoveLeftWorkFolders(Root);
        CreateProtectedDirectory(Work);
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), Work);
    });
    Time(step++, L"backup.log opened", [] {
        wchar_t path[MAX_PATH];
        StringCchPrintfW(path, ARRAYSIZE(path), L"%s\\backup.log", Work);
        OpenRunLog(path);
        LogTimeLine(L"Backup started");
    });
    Time(step++, L"bcdedit.exe start", [] {
        wchar_t tool[SystemTextCapacity];
        if (BuildPath(tool, ARRAYSIZE(tool), SystemDir, L"bcdedit.exe")) RunBcdEdit(tool);
    });
    Time(step++, L"boot store lookup", [] {
        wchar_t keyName[SystemTextCapacity], filePath[SystemTextCapacity];
        FindBcdHive(keyName, filePath);
    });
    Time(step++, L"SYSTEM (saved and checked)",
         [] { SaveHive(HKEY_LOCAL_MACHINE, L"SYSTEM", L"SYSTEM"); });
    Time(step++, L"SOFTWARE (saved and checked)",
         [] { SaveHive(HKEY_LOCAL_MACHINE, L"SOFTWARE", L"SOFTWARE"); });
    Time(step++, L"DEFAULT (saved and checked)",
         [] { SaveHive(HKEY_USERS, L"DEFAULT", L".DEFAULT"); });
    Time(step++, L"SAM", [] { SaveHive(HKEY_LOCAL_MACHINE, L"SAM", L"SAM"); });
    Time(step++, L"SECURITY", [] { SaveHive(HKEY_LOCAL_MACHINE, L"SECURITY", L"SECURITY"); });
    if (OsMajor > 6 || (OsMajor == 6 && OsMinor >= 2)) {
        Time(step++, L"DRIVERS", [] { SaveHive(HKEY_LOCAL_MACHINE, L"DRIVERS", L"DRIVERS"); });
    }
    if (OsMajor >= 6) {
        Time(step++, L"COMPONENTS",
             [] { SaveHive(HKEY_LOCAL_MACHINE, L"COMPONENTS", L"COMPONENTS"); });
    }
    Time(step++, L"profile hives", [] { BackupUserHives(); });
    Time(step++, L"companion tools", [] {
        for (const wchar_t* name :
             {L"revert.exe", L"tidy.exe", L"revert_x64.exe", L"tidy_x64.exe"}) {
            wchar_t source[RootPathCapacity], destination[RootPathCapacity];
            if (BuildPath(source, ARRAYSIZE(source), ModuleDir, name) &&
                BuildPath(destination, ARRAYSIZE(destination), BackupRoot, name)) {
                CopyFileW(source, destination, FALSE);
            }
        }
    });
    Time(step++, L"backup.log written", [] { CloseRunLog(); });
    Time(step++, L"sysdir.txt and the date name", [] {
        wchar_t text[RootPathCapacity];
        if (BuildPath(text, ARRAYSIZE(text), BackupRoot, L"sysdir.txt"))
            WriteTextFile(text, WithoutDrive(SystemDir));
        PutInPlace(Work, Dated, Aside);
    });
    Time(step++, L"purge after the run", [] { PurgeOldBackups(Root); });
    Lock.reset();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || _wtoi(argv[1]) < 1) {
        fprintf(stderr, "usage: phase_driver ROUNDS FOLDER\n");
        return 2;
    }
    const int rounds = _wtoi(argv[1]);
    CaptureStartupValues();
    EnableBackupPrivileges();
    CreateDirectoryW(argv[2], nullptr);
    for (int round = 0; round < rounds; ++round) {
        wchar_t root[MAX_PATH];
        if (FAILED(StringCchPrintfW(root, ARRAYSIZE(root), L"%s\\%d", argv[2], round))) {
            fprintf(stderr, "phase_driver: folder path too long\n");
            return 2;
        }
        RunOneBackup(root);
    }
    for (const Step& step : Steps) {
        fprintf(stderr, "%.2f\t%ls\n", Median(step.seconds) * 1000, step.name);
    }
    return 0;
}
