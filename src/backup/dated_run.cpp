#include "backup/dated_run.h"

#include <strsafe.h>
#include <wchar.h>

#include "app/process_state.h"
#include "shared/path_join.h"
#include "backup/hive_set.h"
#include "backup/retention.h"
#include "fs/directory_probe.h"
#include "fs/secure_folder.h"
#include "fs/text_file.h"
#include "shared/console.h"

namespace {

constexpr const wchar_t* CompanionTools[] = {L"revert.exe", L"tidy.exe", L"revert_x64.exe",
                                             L"tidy_x64.exe"};

// The longest names a run puts straight into the dated folder: when these
// fit, every machine hive, tool and text file of the run fits.
constexpr const wchar_t* LongestEntryNames[] = {L"COMPONENTS", L"revert_x64.exe", L"sysdir.txt"};

bool DatedFolderHoldsEveryEntry(const wchar_t* datedFolder) {
    for (const wchar_t* name : LongestEntryNames) {
        wchar_t path[LongPathCapacity];
        if (!BuildPath(path, ARRAYSIZE(path), datedFolder, name)) return false;
    }
    return true;
}

// Today's backup exists, or another run made its folder a moment ago.
bool TodayIsTaken() {
    WIN32_FIND_DATAW entry;
    if (IsDirectory(BackupRoot, &entry)) return true;
    BOOL created = CreateProtectedDirectory(BackupRoot);
    DWORD error = created ? ERROR_SUCCESS : GetLastError();
    return FolderMadeByAnotherRun(created, error, BackupRoot);
}

void CopyCompanionTools() {
    for (const wchar_t* name : CompanionTools) {
        wchar_t source[LongPathCapacity];
        wchar_t destination[LongPathCapacity];
        // A tool whose path cannot be formed cannot be found either.
        if (!BuildPath(source, ARRAYSIZE(source), ModuleDir, name)) continue;
        if (!BuildPath(destination, ARRAYSIZE(destination), BackupRoot, name)) continue;
        CopyFileW(source, destination, FALSE);
    }
}

void WriteSystemDirText() {
    wchar_t path[LongPathCapacity];
    if (!BuildPath(path, ARRAYSIZE(path), BackupRoot, L"sysdir.txt")) return;
    // A restore puts its own drive in front.
    WriteTextFile(path, WithoutDrive(SystemDir));
}

}  // namespace

bool FolderMadeByAnotherRun(BOOL created, DWORD error, const wchar_t* folder) {
    if (created || error != ERROR_ALREADY_EXISTS) return false;
    // A plain file of that name is not a backup; the saves will report it.
    WIN32_FIND_DATAW entry;
    return IsDirectory(folder, &entry) != 0;
}

void RunDatedBackup() {
    PurgeOldBackups();

    SYSTEMTIME today;
    GetLocalTime(&today);
    wchar_t suffix[LongPathCapacity];
    FormatText(suffix, ARRAYSIZE(suffix), L"\\%04d-%02d-%02d", today.wYear, today.wMonth,
               today.wDay);

    // The dated folder is built apart, so that a root too long for it is
    // refused whole instead of being cut into the name of another folder.
    wchar_t datedFolder[LongPathCapacity];
    if (FAILED(StringCchCopyW(datedFolder, ARRAYSIZE(datedFolder), BackupRoot)) ||
        FAILED(StringCchCatW(datedFolder, ARRAYSIZE(datedFolder), suffix)) ||
        !DatedFolderHoldsEveryEntry(datedFolder)) {
        PrintError(ERROR_FILENAME_EXCED_RANGE, BackupRoot);
        return;
    }
    StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), datedFolder);

    if (TodayIsTaken()) return;

    BackupAllHives();
    CopyCompanionTools();
    WriteSystemDirText();
}
