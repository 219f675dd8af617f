// phase_driver ROUNDS FOLDER
//
// Times the steps of one day's backup from outside, ROUNDS times, each round
// into a fresh root under FOLDER: it takes the steps that zel's
// RunDatedBackup takes, one by one, through the same calls, and then the
// whole RunDatedBackup into another fresh root, so that the sum of the steps
// can be set against the run. It reports the median time of each step on
// standard error, one line each: MILLISECONDS <tab> STEP. Standard output
// carries the runs' own console lines.
#include <windows.h>

#include <stdio.h>
#include <strsafe.h>

#include <vector>

#include "app/startup.h"
#include "backup/backup_marks.h"
#include "backup/companion_tools.h"
#include "backup/dated_run.h"
#include "backup/hive_set.h"
#include "backup/machine_hive.h"
#include "backup/redirection_guard.h"
#include "backup/retention.h"
#include "backup/user_hives.h"
#include "backup/work_folder.h"
#include "fs/secure_folder.h"
#include "report/run_log.h"
#include "shared/location_text.h"
#include "shared/machine_hives.h"
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
const wchar_t* Current = nullptr;
double CurrentStart = 0;

// Ends the step under way, if any, and adds its time to the step's name.
void EndStep() {
    if (!Current) return;
    const double seconds = NowSeconds() - CurrentStart;
    Step* step = nullptr;
    for (Step& known : Steps) {
        if (wcscmp(known.name, Current) == 0) step = &known;
    }
    if (!step) {
        Steps.push_back(Step{Current, {}});
        step = &Steps.back();
    }
    step->seconds.push_back(seconds);
    Current = nullptr;
}

void BeginStep(const wchar_t* name) {
    EndStep();
    Current = name;
    CurrentStart = NowSeconds();
}

// The steps of a run into root, each timed: the same calls in the same
// order as RunDatedBackup, without its refusals.
void RunSteps(const wchar_t* root) {
    wchar_t dated[MAX_PATH], work[MAX_PATH], aside[MAX_PATH], path[MAX_PATH];
    StringCchPrintfW(dated, ARRAYSIZE(dated), L"%s\\2000-01-01", root);
    StringCchPrintfW(work, ARRAYSIZE(work), L"%s.partial", dated);
    StringCchPrintfW(aside, ARRAYSIZE(aside), L"%s.replaced", dated);
    BeginStep(L"backup root folder");
    CreateProtectedDirectory(root);
    BeginStep(L"run lock");
    DWORD error = ERROR_SUCCESS;
    FileHandle lock = TakeRunLock(root, &error);
    BeginStep(L"purge before the run");
    FinishLeftWork(root);
    PurgeOldBackups(root);
    BeginStep(L"work folder");
    CreateProtectedDirectory(work);
    BeginStep(L"backup.log opened");
    StringCchPrintfW(path, ARRAYSIZE(path), L"%s\\backup.log", work);
    OpenRunLog(path);
    HiveTally tally;
    {
        RedirectionGuard guard;
        BeginStep(L"bcdedit.exe start");
        StartBcdEdit();
        BeginStep(L"boot store");
        SaveBootStore(work, &tally);
        for (const MachineHive& hive : MachineHives) {
            if (!HasMachineHive(hive, OsMajor, OsMinor)) continue;
            BeginStep(hive.name);
            SaveMachineHive(work, hive.root, hive.name, hive.subkey);
        }
        BeginStep(L"profile hives");
        BackupUserHives(work, nullptr, &tally);
    }
    BeginStep(L"companion tools");
    CopyCompanionTools(work);
    BeginStep(L"backup.log written");
    wchar_t summary[128];
    FormatHiveSummary(tally, summary, ARRAYSIZE(summary));
    LogLine(summary);
    CloseRunLog();
    BeginStep(L"sysdir.txt and the date name");
    WriteCompletenessRecord(work, tally.failed == 0, summary);
    StringCchPrintfW(path, ARRAYSIZE(path), L"%s\\sysdir.txt", work);
    WriteTextFile(path, WithoutDrive(SystemDir));
    PlaceBackup(work, dated, aside);
    EndStep();
}

// What zel's wmain does after its command line: the root folder, then the run.
void RunWhole(const wchar_t* root) {
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root);
    BeginStep(L"whole RunDatedBackup, for the sum of the steps");
    CreateProtectedDirectory(BackupRoot);
    RunDatedBackup();
    EndStep();
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
        wchar_t steps[MAX_PATH], whole[MAX_PATH];
        if (FAILED(StringCchPrintfW(steps, ARRAYSIZE(steps), L"%s\\%d", argv[2], round)) ||
            FAILED(StringCchPrintfW(whole, ARRAYSIZE(whole), L"%s\\whole%d", argv[2], round))) {
            fprintf(stderr, "phase_driver: folder path too long\n");
            return 2;
        }
        RunSteps(steps);
        RunWhole(whole);
    }
    for (const Step& step : Steps) {
        fprintf(stderr, "%.2f\t%ls\n", Median(step.seconds) * 1000, step.name);
    }
    return 0;
}
