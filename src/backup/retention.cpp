#include "backup/retention.h"

#include <strsafe.h>
#include <wchar.h>

#include "backup/backup_marks.h"
#include "backup/redirection_guard.h"
#include "fs/file_marks.h"
#include "shared/entry_name.h"
#include "shared/heap_array.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "state/run_state.h"

void ReadUtcNow(FILETIME* now) {
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    SystemTimeToFileTime(&utc, now);
}

namespace {

// The one buffer in which the purge builds search patterns and the path of
// the file about to be deleted. Its content means nothing between calls.
wchar_t ScratchPath[RootPathCapacity];

constexpr double SecondsPerUnit = 1e-7;  // a FILETIME counts 100 ns units
constexpr double SecondsPerDay = 86400.0;

// parent + backslash + name on the heap, sized for exactly that; false when
// memory runs out.
bool BuildChildPath(HeapArray<wchar_t>* path, const wchar_t* parent, const wchar_t* name) {
    const size_t count = wcslen(parent) + wcslen(name) + 2;
    wchar_t* text = path->Extend(count);
    return text && SUCCEEDED(StringCchPrintfW(text, count, L"%s\\%s", parent, name));
}

// ScratchPath = first + second + third. What does not fit is refused and
// leaves ScratchPath empty, so a cut-off path is never acted on.
bool ComposeScratchPath(const wchar_t* first, const wchar_t* second, const wchar_t* third) {
    if (SUCCEEDED(StringCchCopyW(ScratchPath, ARRAYSIZE(ScratchPath), first)) &&
        SUCCEEDED(StringCchCatW(ScratchPath, ARRAYSIZE(ScratchPath), second)) &&
        SUCCEEDED(StringCchCatW(ScratchPath, ARRAYSIZE(ScratchPath), third))) {
        return true;
    }
    ScratchPath[0] = L'\0';
    return false;
}

// Starts a listing of folder, its pattern built in ScratchPath; an empty
// handle when the pattern does not fit or the folder cannot be listed.
FindHandle ListFolder(const wchar_t* folder, WIN32_FIND_DATAW* entry) {
    if (!ComposeScratchPath(folder, L"\\*.*", L"")) return FindHandle();
    return FindHandle(FindFirstFileW(ScratchPath, entry));
}

bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Deletes the link named by ScratchPath. Its attributes are not cleared:
// SetFileAttributesW would change the target's instead.
BOOL DeleteScratchLink() {
    RedirectionGuard guard;
    return DeleteFileW(ScratchPath);
}

}  // namespace

bool IsOlderThanRetention(FILETIME now, FILETIME created, int retentionDays) {
    ULARGE_INTEGER later;
    later.LowPart = now.dwLowDateTime;
    later.HighPart = now.dwHighDateTime;
    ULARGE_INTEGER earlier;
    earlier.LowPart = created.dwLowDateTime;
    earlier.HighPart = created.dwHighDateTime;
    // Negative when the folder was created in the future.
    const LONGLONG diff = static_cast<LONGLONG>(later.QuadPart - earlier.QuadPart);
    const double ageDays = static_cast<double>(diff) * SecondsPerUnit / SecondsPerDay;
    return retentionDays < ageDays;
}

bool IsDatedFolderName(const wchar_t* name) {
    static const wchar_t Form[] = L"0000-00-00";
    for (size_t i = 0; i + 1 < ARRAYSIZE(Form); ++i) {
        // A shorter name stops here at its terminator, which matches neither.
        const bool fits = Form[i] == L'0' ? IsAsciiDigit(name[i]) : name[i] == Form[i];
        if (!fits) return false;
    }
    return name[ARRAYSIZE(Form) - 1] == L'\0';
}

namespace {

// Deletes the file named by ScratchPath, redirection off. Only a read-only
// file needs its marks cleared, and kept for the other links it may have.
BOOL DeleteScratchFile(DWORD attributes) {
    RedirectionGuard guard;
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return DeleteFileW(ScratchPath);
    return DeleteSharedFile(ScratchPath);
}

// Deletes everything inside folder, but not folder itself, as DeleteFolder
// tells.
void DeleteTree(const wchar_t* folder) {
    if (folder[0] == L'\0') return;
    WIN32_FIND_DATAW entry;
    FindHandle listing = ListFolder(folder, &entry);
    if (!listing) return;
    do {
        // A name that holds a separator would reach outside this folder.
        if (!IsSingleName(entry.cFileName)) continue;
        const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            UpperCaseInPlace(entry.cFileName);
            if (!ComposeScratchPath(folder, L"\\", entry.cFileName)) continue;
            if (link) {
                DeleteScratchLink();
            } else {
                DeleteScratchFile(entry.dwFileAttributes);
            }
            continue;
        }
        HeapArray<wchar_t> sub;
        if (!BuildChildPath(&sub, folder, entry.cFileName)) continue;
        // A link is removed as it is: never listed, and its attributes are
        // left alone, since setting them by path would reach the target.
        if (!link) {
            DeleteTree(sub.data());
            SetFileAttributesW(sub.data(), FILE_ATTRIBUTE_DIRECTORY);
        }
        RemoveDirectoryW(sub.data());
    } while (FindNextFileW(listing.get(), &entry));
}

}  // namespace

void DeleteFolder(const wchar_t* folder) {
    DeleteTree(folder);
    SetFileAttributesW(folder, FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(folder);
}

bool IsEmptyFolder(const wchar_t* folder) {
    WIN32_FIND_DATAW entry;
    FindHandle listing = ListFolder(folder, &entry);
    if (!listing) return false;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) return false;
    } while (FindNextFileW(listing.get(), &entry));
    return true;
}

namespace {

ULONGLONG TimeValue(FILETIME time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return value.QuadPart;
}

// Calls visit(path, entry) for each folder directly under root that carries
// a dated name and is no link; the path lives only during the call.
template <class Visit>
void ForEachDatedFolder(const wchar_t* root, Visit visit) {
    WIN32_FIND_DATAW entry;
    FindHandle listing = ListFolder(root, &entry);
    if (!listing) return;
    do {
        if (!IsPlainSubfolder(entry) || !IsDatedFolderName(entry.cFileName)) continue;
        HeapArray<wchar_t> candidate;
        if (BuildChildPath(&candidate, root, entry.cFileName)) visit(candidate.data(), entry);
    } while (FindNextFileW(listing.get(), &entry));
}

}  // namespace

bool PurgeOldBackups(const wchar_t* root) {
    const int retentionDays = RetentionDays;
    FILETIME now;
    ReadUtcNow(&now);
    if (root[0] == L'\0') return false;

    // The newest backup, and the newest complete one, stay whatever their
    // age. Both are found by creation time; one created in the future (a
    // clock that was wrong once) would otherwise stay the newest for ever.
    const ULONGLONG nowValue = TimeValue(now);
    ULONGLONG newest = 0;
    ULONGLONG newestComplete = 0;
    ForEachDatedFolder(root, [&](const wchar_t* path, const WIN32_FIND_DATAW& entry) {
        const ULONGLONG created = TimeValue(entry.ftCreationTime);
        if (created > nowValue || !IsBackupFolder(path)) return;
        if (created > newest) newest = created;
        if (created > newestComplete && IsCompleteBackup(path)) newestComplete = created;
    });
    bool sparedOld = false;
    ForEachDatedFolder(root, [&](const wchar_t* path, const WIN32_FIND_DATAW& entry) {
        if (!IsOlderThanRetention(now, entry.ftCreationTime, retentionDays)) return;
        const ULONGLONG created = TimeValue(entry.ftCreationTime);
        const bool backup = IsBackupFolder(path);
        if (backup && (created == newest || created == newestComplete)) {
            sparedOld = true;
            return;
        }
        // Only our own: a folder of other things that carries a date stays.
        if (!backup && !IsEmptyFolder(path)) return;
        DeleteTree(path);
        RemoveDirectoryW(path);
    });
    return sparedOld;
}
