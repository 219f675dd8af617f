#include "backup/work_folder.h"

#include <strsafe.h>
#include <wchar.h>

#include "backup/backup_marks.h"
#include "backup/retention.h"
#include "shared/entry_name.h"
#include "shared/path_join.h"
#include "shared/platform.h"

namespace {

constexpr wchar_t WorkSuffix[] = L".partial";
constexpr wchar_t AsideSuffix[] = L".replaced";
constexpr DWORD RenamePatienceMs = 30000;
constexpr DWORD FirstRenamePauseMs = 100;

// For each plain folder under root named YYYY-MM-DD + suffix, calls
// visit(folder, dated, aside) with the paths of the folder, of its day's
// name and of that day's aside name.
using LeftFolderVisit = void (*)(const wchar_t* folder, const wchar_t* dated, const wchar_t* aside);
void ForEachLeftFolder(const wchar_t* root, const wchar_t* suffix, LeftFolderVisit visit) {
    WIN32_FIND_DATAW entry;
    FindHandle listing = StartListing(root, &entry);
    if (!listing) return;
    do {
        wchar_t date[11];
        if (!IsPlainSubfolder(entry) ||
            FAILED(StringCchCopyNW(date, ARRAYSIZE(date), entry.cFileName, 10)) ||
            !IsDatedFolderName(date) || wcscmp(entry.cFileName + 10, suffix) != 0) {
            continue;
        }
        wchar_t folder[JoinedPathCapacity];
        wchar_t dated[JoinedPathCapacity];
        wchar_t aside[JoinedPathCapacity];
        if (BuildPath(folder, ARRAYSIZE(folder), root, entry.cFileName) &&
            BuildPath(dated, ARRAYSIZE(dated), root, date) &&
            AddSuffix(aside, dated, AsideSuffix)) {
            visit(folder, dated, aside);
        }
    } while (FindNextFileW(listing.get(), &entry));
}

// Renames a folder as MoveFileExW does. A rename that fails with a sharing
// violation or access denied (a scanner holds a file inside) is tried again
// after growing pauses, for up to 30 seconds. ERROR_SUCCESS or the error.
DWORD MoveFolderPatiently(const wchar_t* from, const wchar_t* to) {
    DWORD waited = 0;
    for (DWORD pause = FirstRenamePauseMs;; pause *= 2) {
        if (Platform.moveFolder(from, to, 0)) return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        // A scanner or indexer that holds a fresh file inside lets go of it
        // within seconds; any other failure will not pass by waiting.
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return error;
        if (waited >= RenamePatienceMs) return error;
        const DWORD step = pause < RenamePatienceMs - waited ? pause : RenamePatienceMs - waited;
        Sleep(step);
        waited += step;
    }
}

}  // namespace

FileHandle TakeRunLock(const wchar_t* root, DWORD* error) {
    wchar_t path[JoinedPathCapacity];
    if (!BuildPath(path, ARRAYSIZE(path), root, L"zel.lock")) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return FileHandle();
    }
    // The system closes the handle of a run that dies, and the file goes
    // with it, so a lock never outlives its run.
    FileHandle lock(CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    *error = lock ? ERROR_SUCCESS : GetLastError();
    return lock;
}

DayEntry ProbeDayEntry(const wchar_t* dated) {
    WIN32_FIND_DATAW entry;
    FindHandle found(FindFirstFileW(dated, &entry));
    if (!found) {
        const DWORD error = GetLastError();
        // Whatever cannot be looked at is taken as someone else's.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? DayEntry::Free
                                                                              : DayEntry::Foreign;
    }
    if (!IsPlainSubfolder(entry)) return DayEntry::Foreign;
    return IsBackupFolder(dated) || IsEmptyFolder(dated) ? DayEntry::Ours : DayEntry::Foreign;
}

namespace {

bool HoldsName(const HeapArray<wchar_t>& names, const wchar_t* name) {
    for (size_t at = 0; at < names.size(); at += wcslen(names.data() + at) + 1) {
        if (wcscmp(names.data() + at, name) == 0) return true;
    }
    return false;
}

}  // namespace

bool KeepsNewBackup(const wchar_t* dated, const HeapArray<wchar_t>& saved, wchar_t* lacking) {
    lacking[0] = L'\0';
    HeapArray<wchar_t> standing;
    if (ProbeDayEntry(dated) != DayEntry::Ours || !IsBackupFolder(dated) ||
        !ReadSavedHives(dated, &standing)) {
        return true;
    }
    HiveTally missing;
    for (size_t at = 0; at < standing.size(); at += wcslen(standing.data() + at) + 1) {
        const wchar_t* name = standing.data() + at;
        if (!HoldsName(saved, name)) CountHive(&missing, name, HiveOutcome::Failed);
    }
    StringCchCopyW(lacking, FailedNamesCapacity, missing.failedNames);
    return missing.failed == 0;
}

DWORD PlaceBackup(const wchar_t* work, const wchar_t* dated, const wchar_t* aside) {
    const DayEntry standing = ProbeDayEntry(dated);
    if (standing == DayEntry::Foreign) return ERROR_ALREADY_EXISTS;
    if (standing == DayEntry::Free) return MoveFolderPatiently(work, dated);
    DWORD error = MoveFolderPatiently(dated, aside);
    if (error != ERROR_SUCCESS) return error;
    error = MoveFolderPatiently(work, dated);
    if (error != ERROR_SUCCESS) {
        // The older backup goes back; the next run tries the new one again.
        MoveFolderPatiently(aside, dated);
        return error;
    }
    DeleteFolder(aside);
    return ERROR_SUCCESS;
}

namespace {

// A backup moved aside goes back when nothing took its place, and goes
// once a backup of ours stands there.
void RecoverAside(const wchar_t* aside, const wchar_t* dated, const wchar_t*) {
    const DayEntry standing = ProbeDayEntry(dated);
    if (standing == DayEntry::Free) {
        MoveFolderPatiently(aside, dated);
    } else if (standing == DayEntry::Ours && IsBackupFolder(dated)) {
        DeleteFolder(aside);
    }
}

void FinishWorkFolder(const wchar_t* work, const wchar_t* dated, const wchar_t* aside) {
    // Unfinished, or lacking hives that its day's backup holds: the run
    // that made it would not have placed it either.
    HeapArray<wchar_t> saved;
    // A log that cannot be read names no hive: such a folder takes no
    // backup's place, though it may still take an empty one.
    if (!ReadSavedHives(work, &saved)) saved.Clear();
    wchar_t lacking[FailedNamesCapacity];
    if (!IsBackupFolder(work) || !KeepsNewBackup(dated, saved, lacking)) {
        DeleteFolder(work);
        return;
    }
    // A name that holds something else keeps it; the work folder waits.
    PlaceBackup(work, dated, aside);
}

}  // namespace

void FinishLeftWork(const wchar_t* root) {
    ForEachLeftFolder(root, AsideSuffix, RecoverAside);
    ForEachLeftFolder(root, WorkSuffix, FinishWorkFolder);
}
