#include "backup/dated_run.h"

#include <strsafe.h>
#include <wchar.h>

#include "backup/hive_set.h"
#include "backup/retention.h"
#include "backup/run_steps.h"
#include "backup/work_folder.h"
#include "fs/directory_probe.h"
#include "fs/secure_folder.h"
#include "report/hive_report.h"
#include "report/run_log.h"
#include "shared/console.h"
#include "shared/exit_status.h"
#include "shared/location_text.h"
#include "shared/path_join.h"
#include "state/run_state.h"

DWORD RunStepError = ERROR_SUCCESS;
RunStepFn RunStepEntry = nullptr;

namespace {

constexpr const wchar_t* CompanionTools[] = {L"revert.exe", L"tidy.exe", L"revert_x64.exe",
                                             L"tidy_x64.exe"};

// The longest name a run puts straight into its folder: when it fits, every
// machine hive, log, tool and text file of the run fits.
constexpr wchar_t LongestEntryName[] = L"COMPONENTS.LOG1";

// The report of a step that stops the run, on the console and in the log.
int StopRun(DWORD error, const wchar_t* what) {
    RunStepError = error;
    wchar_t line[RootPathCapacity];
    FormatErrorLine(line, ARRAYSIZE(line), error, what);
    PrintAndLog(line);
    return ExitFailed;
}

void CopyCompanionTools() {
    for (const wchar_t* name : CompanionTools) {
        wchar_t source[JoinedPathCapacity];
        wchar_t destination[JoinedPathCapacity];
        // A tool whose path cannot be formed cannot be found either.
        if (!BuildPath(source, ARRAYSIZE(source), ModuleDir, name)) continue;
        if (!BuildPath(destination, ARRAYSIZE(destination), BackupRoot, name)) continue;
        CopyFileW(source, destination, FALSE);
    }
}

void LogSummary() {
    LogTimeLine(L"Backup ended");
    wchar_t line[128];
    FormatText(line, ARRAYSIZE(line), L"%lu of %lu hives saved", HivesReported - HivesFailed,
               HivesReported);
    LogLine(line);
}

bool TodaysBackupStands(const wchar_t* dated) {
    WIN32_FIND_DATAW entry;
    if (!IsDirectory(dated, &entry)) return false;
    // With /days:0 or less even today's backup counts as old: a fresh one
    // is made and then takes its place.
    FILETIME now;
    ReadUtcNow(&now);
    return !IsOlderThanRetention(now, entry.ftCreationTime, RetentionDays);
}

}  // namespace

int RunDatedBackup() {
    wchar_t root[RootPathCapacity];
    StringCchCopyW(root, ARRAYSIZE(root), BackupRoot);

    SYSTEMTIME today;
    GetLocalTime(&today);
    wchar_t date[16];
    FormatText(date, ARRAYSIZE(date), L"%04d-%02d-%02d", today.wYear, today.wMonth, today.wDay);
    wchar_t dated[JoinedPathCapacity];
    wchar_t work[JoinedPathCapacity];
    wchar_t aside[JoinedPathCapacity];
    wchar_t longest[JoinedPathCapacity];
    // A root too long for the day's entries is refused whole instead of
    // being cut into the name of another folder.
    if (!BuildPath(dated, ARRAYSIZE(dated), root, date) || !AddSuffix(work, dated, L".partial") ||
        !AddSuffix(aside, dated, L".replaced") ||
        !BuildPath(longest, ARRAYSIZE(longest), work, LongestEntryName)) {
        return StopRun(ERROR_FILENAME_EXCED_RANGE, root);
    }

    BeginRunStep(L"run lock");
    DWORD error = ERROR_SUCCESS;
    FileHandle lock = TakeRunLock(root, &error);
    // Another run is making the day's backup: this one adds nothing.
    if (error == ERROR_SHARING_VIOLATION) return ExitDone;
    if (!lock) return StopRun(error, root);

    BeginRunStep(L"purge before the run");
    RecoverReplacedFolder(dated, aside);
    const bool sparedOld = PurgeOldBackups(root);
    if (TodaysBackupStands(dated)) return ExitDone;

    BeginRunStep(L"work folder");
    RemoveLeftWorkFolders(root);
    if (!CreateProtectedDirectory(work)) return StopRun(GetLastError(), work);
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), work);

    BeginRunStep(L"backup.log opened");
    wchar_t logPath[JoinedPathCapacity];
    BuildPath(logPath, ARRAYSIZE(logPath), work, L"backup.log");
    DWORD logError = OpenRunLog(logPath);
    LogTimeLine(L"Backup started");
    wchar_t line[RootPathCapacity];
    FormatText(line, ARRAYSIZE(line), L"Backup root %s", root);
    LogLine(line);

    BackupAllHives();
    BeginRunStep(L"companion tools");
    CopyCompanionTools();
    BeginRunStep(L"backup.log written");
    LogSummary();
    if (logError == ERROR_SUCCESS) logError = CloseRunLog();

    // Written last: a folder that holds it is a finished backup.
    BeginRunStep(L"sysdir.txt and the date name");
    wchar_t sysdirPath[JoinedPathCapacity];
    BuildPath(sysdirPath, ARRAYSIZE(sysdirPath), work, L"sysdir.txt");
    error = WriteTextFile(sysdirPath, WithoutDrive(SystemDir));
    if (error != ERROR_SUCCESS) return StopRun(error, sysdirPath);

    error = PutInPlace(work, dated, aside);
    if (error != ERROR_SUCCESS) return StopRun(error, dated);
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), dated);

    // The newest backup stayed only until this one stood.
    if (sparedOld) {
        BeginRunStep(L"purge after the run");
        PurgeOldBackups(root);
    }
    if (logError != ERROR_SUCCESS) return StopRun(logError, logPath);
    return HivesFailed > 0 ? ExitFailed : ExitDone;
}
