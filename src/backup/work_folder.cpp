#include "backup/work_folder.h"

#include <strsafe.h>
#include <wchar.h>

#include "backup/retention.h"
#include "fs/directory_probe.h"
#include "shared/entry_name.h"
#include "shared/path_join.h"

namespace {

constexpr wchar_t WorkSuffix[] = L".partial";

void RemoveFolderTree(const wchar_t* folder) {
    DeleteTree(folder);
    SetFileAttributesW(folder, FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(folder);
}

bool IsWorkFolderName(const wchar_t* name) {
    wchar_t date[11];
    if (FAILED(StringCchCopyNW(date, ARRAYSIZE(date), name, 10))) return false;
    return IsDatedFolderName(date) && wcscmp(name + 10, WorkSuffix) == 0;
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

void RemoveLeftWorkFolders(const wchar_t* root) {
    wchar_t pattern[JoinedPathCapacity];
    if (!BuildPath(pattern, ARRAYSIZE(pattern), root, L"*")) return;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(pattern, &entry));
    if (!listing) return;
    do {
        if (!IsPlainSubfolder(entry) || !IsWorkFolderName(entry.cFileName)) continue;
        wchar_t folder[JoinedPathCapacity];
        if (BuildPath(folder, ARRAYSIZE(folder), root, entry.cFileName)) RemoveFolderTree(folder);
    } while (FindNextFileW(listing.get(), &entry));
}

void RecoverReplacedFolder(const wchar_t* dated, const wchar_t* aside) {
    WIN32_FIND_DATAW entry;
    if (!IsDirectory(aside, &entry)) return;
    if (!IsDirectory(dated, &entry)) {
        MoveFileExW(aside, dated, 0);
        return;
    }
    RemoveFolderTree(aside);
}

DWORD PutInPlace(const wchar_t* work, const wchar_t* dated, const wchar_t* aside) {
    WIN32_FIND_DATAW entry;
    const bool replacing = IsDirectory(dated, &entry);
    if (replacing && !MoveFileExW(dated, aside, 0)) return GetLastError();
    if (!MoveFileExW(work, dated, 0)) {
        DWORD error = GetLastError();
        if (replacing) MoveFileExW(aside, dated, 0);
        return error;
    }
    if (replacing) RemoveFolderTree(aside);
    return ERROR_SUCCESS;
}
