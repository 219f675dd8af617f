// phase_driver ROUNDS FOLDER
//
// Runs one day's backup ROUNDS times in this process, each round into a fresh
// root under FOLDER, through zel's own RunDatedBackup, and reports the median
// time of each step the run names (backup/run_steps.h) on standard error,
// one line each: MILLISECONDS <tab> STEP. Standard output carries the run's
// own console lines. It shows where the time of a backup goes beyond the
// saves that the baseline makes as well.
#include <windows.h>

#include <stdio.h>
#include <strsafe.h>

#include <vector>

#include "app/startup.h"
#include "backup/dated_run.h"
#include "backup/run_steps.h"
#include "fs/secure_folder.h"
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

// What zel's wmain does after its command line: the root folder, then the run.
void RunOneBackup(const wchar_t* root) {
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root);
    BeginStep(L"backup root folder");
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
    RunStepEntry = BeginStep;
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
