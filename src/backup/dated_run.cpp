#include "backup/dated_run.h"

#include <strsafe.h>
#include <wchar.h>

#include "backup/backup_marks.h"
#include "backup/companion_tools.h"
#include "backup/hive_set.h"
#include "backup/retention.h"
#include "backup/unchanged_links.h"
#include "backup/work_folder.h"
#include "fs/directory_probe.h"
#include "fs/file_marks.h"
#include "fs/secure_folder.h"
#include "report/run_log.h"
#include "shared/console.h"
#include "shared/exit_status.h"
#include "shared/location_text.h"
#include "shared/path_join.h"
#include "shared/platform.h"
#include "state/run_state.h"

namespace {

// The longest name a run puts straight into its folder: when it fits, every
// machine hive, log, tool and text file of the run fits.
constexpr wchar_t LongestEntryName[] = L"COMPONENTS.LOG1";

// The report of a step that stops the run, on the console and in the log.
void StopRun(RunResult* result, DWORD error, const wchar_t* what) {
    result->stepError = error;
    result->exitStatus = ExitFailed;
    wchar_t line[RootPathCapacity];
    FormatErrorLine(line, ARRAYSIZE(line), error, what);
    PrintAndLog(line);
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

// The paths of a day under root; false when root is too long for the
// day's entries, so that it is refused whole instead of being cut into the
// name of another folder.
struct DayPaths {
    wchar_t dated[JoinedPathCapacity];
    wchar_t work[JoinedPathCapacity];
    wchar_t aside[JoinedPathCapacity];
};
bool FormDayPaths(const wchar_t* root, DayPaths* day) {
    SYSTEMTIME today;
    Platform.getLocalTime(&today);
    wchar_t date[16];
    FormatText(date, ARRAYSIZE(date), L"%04d-%02d-%02d", today.wYear, today.wMonth, today.wDay);
    wchar_t longest[JoinedPathCapacity];
    return BuildPath(day->dated, ARRAYSIZE(day->dated), root, date) &&
           AddSuffix(day->work, day->dated, L".partial") &&
           AddSuffix(day->aside, day->dated, L".replaced") &&
           BuildPath(longest, ARRAYSIZE(longest), day->work, LongestEntryName);
}

// The new backup lacks hives that today's stands with: it goes, and both
// the console and today's backup.log say why.
void DropWorseBackup(RunResult* result, const wchar_t* work, const wchar_t* lacking) {
    DeleteFolder(work);
    result->end = RunEnd::NotKept;
    result->exitStatus = ExitFailed;
    wchar_t line[RootPathCapacity];
    FormatText(line, ARRAYSIZE(line),
               L"(!) The new backup lacks %s, which today's backup holds, and was not kept; "
               L"today's backup stands: %s",
               lacking, result->folder);
    PrintLine(line);
    // A log whose last line still tells whether its backup is complete
    // (one made before the records) is left as it is.
    if (HasCompletenessRecord(result->folder)) AppendToBackupLog(result->folder, line);
}

// Tenths of a MiB, as "12.3 MiB".
void FormatMebibytes(wchar_t* text, size_t capacity, ULONGLONG bytes) {
    const ULONGLONG tenths = (bytes * 10 + 512 * 1024) / (1024 * 1024);
    FormatText(text, capacity, L"%I64u.%I64u MiB", tenths / 10, tenths % 10);
}

void LogSpace(const BackupSpace& space) {
    wchar_t line[RootPathCapacity];
    if (space.linkError != ERROR_SUCCESS) {
        FormatErrorLine(line, ARRAYSIZE(line), space.linkError,
                        L"Unchanged files are stored as copies: its volume makes no links");
        LogLine(line);
    }
    wchar_t onDisk[32], whole[32];
    FormatMebibytes(onDisk, ARRAYSIZE(onDisk), space.ownBytes);
    FormatMebibytes(whole, ARRAYSIZE(whole), space.wholeBytes);
    FormatText(line, ARRAYSIZE(line),
               L"Space on disk %s, %s without links (%lu files linked to earlier backups)", onDisk,
               whole, space.linkedFiles);
    LogLine(line);
}

}  // namespace

RunResult RunDatedBackup() {
    RunResult result;
    wchar_t root[RootPathCapacity];
    StringCchCopyW(root, ARRAYSIZE(root), BackupRoot);

    DayPaths day;
    if (!FormDayPaths(root, &day)) {
        StopRun(&result, ERROR_FILENAME_EXCED_RANGE, root);
        return result;
    }
    StringCchCopyW(result.folder, ARRAYSIZE(result.folder), day.dated);
    // From here on BackupRoot names the day's folder.
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), day.dated);

    DWORD error = ERROR_SUCCESS;
    FileHandle lock = TakeRunLock(root, &error);
    // Another run is making the day's backup: this one adds nothing.
    if (error == ERROR_SHARING_VIOLATION) {
        result.end = RunEnd::UnderWay;
        return result;
    }
    if (!lock) {
        StopRun(&result, error, root);
        return result;
    }

    FinishLeftWork(root);
    const bool sparedOld = PurgeOldBackups(root);
    if (TodaysBackupStands(day.dated)) {
        result.end = RunEnd::Stands;
        return result;
    }
    // Only a backup of ours, or an empty folder, ever gives up today's name.
    if (ProbeDayEntry(day.dated) == DayEntry::Foreign) {
        result.end = RunEnd::NameTaken;
        wchar_t what[RootPathCapacity];
        FormatText(what, ARRAYSIZE(what), L"(!) Not a backup, left as it is: %s", day.dated);
        StopRun(&result, ERROR_ALREADY_EXISTS, what);
        return result;
    }

    if (!CreateProtectedDirectory(day.work)) {
        StopRun(&result, GetLastError(), day.work);
        return result;
    }

    wchar_t logPath[JoinedPathCapacity];
    BuildPath(logPath, ARRAYSIZE(logPath), day.work, L"backup.log");
    DWORD logError = OpenRunLog(logPath);
    LogTimeLine(L"Backup started");
    wchar_t line[RootPathCapacity];
    FormatText(line, ARRAYSIZE(line), L"Backup root %s", root);
    LogLine(line);
    const DWORD compression = CompressFolder(day.work);
    if (compression != ERROR_SUCCESS) {
        wchar_t note[RootPathCapacity];
        FormatErrorLine(note, ARRAYSIZE(note), compression,
                        L"The backup is stored uncompressed: its volume does not compress");
        LogLine(note);
    }

    LinkSources links;
    FindEarlierBackups(root, &links);
    BackupAllHives(day.work, &links, &result.hives);
    const DWORD toolsFailed = CopyCompanionTools(day.work);
    const bool complete = result.hives.failed == 0;

    wchar_t lacking[FailedNamesCapacity];
    if (!KeepsNewBackup(day.dated, result.hives.savedNames, lacking)) {
        CloseRunLog();
        DropWorseBackup(&result, day.work, lacking);
        return result;
    }

    BackupSpace space;
    LinkUnchangedFiles(&links, day.work, &space);
    LogSpace(space);

    wchar_t summary[128];
    FormatHiveSummary(result.hives, summary, ARRAYSIZE(summary));
    LogTimeLine(L"Backup ended");
    LogLine(summary);
    if (logError == ERROR_SUCCESS) logError = CloseRunLog();

    // Written last: a folder that holds sysdir.txt is a finished backup, and
    // the record of its completeness comes before it.
    error = WriteCompletenessRecord(day.work, complete, summary);
    if (error != ERROR_SUCCESS) {
        StopRun(&result, error, day.work);
        return result;
    }
    wchar_t sysdirPath[JoinedPathCapacity];
    BuildPath(sysdirPath, ARRAYSIZE(sysdirPath), day.work, L"sysdir.txt");
    error = WriteTextFile(sysdirPath, WithoutDrive(SystemDir));
    if (error != ERROR_SUCCESS) {
        StopRun(&result, error, sysdirPath);
        return result;
    }

    // Read-only, so that no one changes one day through a link it shares.
    MarkFilesReadOnly(day.work);
    error = PlaceBackup(day.work, day.dated, day.aside);
    if (error != ERROR_SUCCESS) {
        StopRun(&result, error, day.dated);
        return result;
    }

    // The old backups that stayed for being the newest go once a newer
    // complete one stands; after a failed run, everything stays.
    if (sparedOld && complete) PurgeOldBackups(root);
    if (logError != ERROR_SUCCESS) {
        StopRun(&result, logError, logPath);
        return result;
    }
    if (result.hives.failed > 0 || toolsFailed > 0) result.exitStatus = ExitFailed;
    return result;
}
