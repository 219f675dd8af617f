#include "backup/dated_run.h"

#include <strsafe.h>
#include <wchar.h>

#include "backup/backup_marks.h"
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
RunEnd LastRunEnd = RunEnd::Made;
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

// Copies the tools that are beside zel into the backup; the number that
// could not be copied, each with its line.
DWORD CopyCompanionTools() {
    DWORD failed = 0;
    for (const wchar_t* name : CompanionTools) {
        wchar_t source[JoinedPathCapacity];
        wchar_t destination[JoinedPathCapacity];
        // A tool whose path cannot be formed cannot be found either.
        if (!BuildPath(source, ARRAYSIZE(source), ModuleDir, name)) continue;
        if (!BuildPath(destination, ARRAYSIZE(destination), BackupRoot, name)) continue;
        if (CopyFileW(source, destination, FALSE)) continue;
        const DWORD error = GetLastError();
        // A tool that is not beside zel is not missed.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
        // A copy cut short (a full disk) must not pass for the tool.
        DeleteFileW(destination);
        wchar_t prefix[64];
        FormatText(prefix, ARRAYSIZE(prefix), L"Copy error %s ", name);
        wchar_t line[RootPathCapacity];
        FormatErrorLine(line, ARRAYSIZE(line), error, prefix);
        PrintAndLog(line);
        ++failed;
    }
    return failed;
}

void FormatSummary(wchar_t* line, size_t capacity) {
    FormatText(line, capacity, L"%lu of %lu hives saved", HivesReported - HivesFailed,
               HivesReported);
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
    if (error == ERROR_SHARING_VIOLATION) {
        LastRunEnd = RunEnd::UnderWay;
        return ExitDone;
    }
    if (!lock) return StopRun(error, root);

    BeginRunStep(L"purge before the run");
    FinishLeftWork(root);
    const bool sparedOld = PurgeOldBackups(root);
    if (TodaysBackupStands(dated)) {
        LastRunEnd = RunEnd::Stands;
        return ExitDone;
    }
    // Only a backup of ours, or an empty folder, ever gives up today's name.
    if (ProbeDayEntry(dated) == DayEntry::Foreign) {
        LastRunEnd = RunEnd::NameTaken;
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), dated);
        wchar_t what[RootPathCapacity];
        FormatText(what, ARRAYSIZE(what), L"(!) Not a backup, left as it is: %s", dated);
        return StopRun(ERROR_ALREADY_EXISTS, what);
    }

    BeginRunStep(L"work folder");
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
    const DWORD toolsFailed = CopyCompanionTools();
    const bool complete = HivesFailed == 0;

    // An incomplete backup never takes the place of today's complete one.
    if (!KeepsNewBackup(dated, complete)) {
        CloseRunLog();
        DeleteFolder(work);
        LastRunEnd = RunEnd::NotKept;
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), dated);
        FormatText(line, ARRAYSIZE(line),
                   L"(!) The new backup is incomplete and was not kept; today's complete backup "
                   L"stands: %s",
                   dated);
        PrintLine(line);
        return ExitFailed;
    }

    BeginRunStep(L"backup.log written");
    wchar_t summary[128];
    FormatSummary(summary, ARRAYSIZE(summary));
    LogTimeLine(L"Backup ended");
    LogLine(summary);
    if (logError == ERROR_SUCCESS) logError = CloseRunLog();

    // Written last: a folder that holds sysdir.txt is a finished backup, and
    // the record of its completeness comes before it.
    BeginRunStep(L"sysdir.txt and the date name");
    error = WriteCompletenessRecord(work, complete, summary);
    if (error != ERROR_SUCCESS) return StopRun(error, work);
    wchar_t sysdirPath[JoinedPathCapacity];
    BuildPath(sysdirPath, ARRAYSIZE(sysdirPath), work, L"sysdir.txt");
    error = WriteTextFile(sysdirPath, WithoutDrive(SystemDir));
    if (error != ERROR_SUCCESS) return StopRun(error, sysdirPath);

    error = PlaceBackup(work, dated, aside);
    if (error != ERROR_SUCCESS) return StopRun(error, dated);
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), dated);

    // The old backups that stayed for being the newest go once a newer
    // complete one stands; after a failed run, everything stays.
    if (sparedOld && complete) {
        BeginRunStep(L"purge after the run");
        PurgeOldBackups(root);
    }
    if (logError != ERROR_SUCCESS) return StopRun(logError, logPath);
    return HivesFailed > 0 || toolsFailed > 0 ? ExitFailed : ExitDone;
}
