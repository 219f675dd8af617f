#include "backup/unchanged_links.h"

#include <string.h>
#include <wchar.h>

#include <initializer_list>

#include "backup/backup_marks.h"
#include "backup/retention.h"
#include "fs/file_marks.h"
#include "shared/entry_name.h"
#include "shared/file_identity.h"
#include "shared/heap_array.h"
#include "shared/name_case.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"
#include "shared/platform.h"

namespace {

// Older backups than these are not looked in: a file unchanged for longer
// is linked to one of them already.
constexpr size_t EarlierLimit = 32;
constexpr DWORD CompareChunk = 1 << 20;

}  // namespace

void FindEarlierBackups(const wchar_t* root, LinkSources* sources) {
    HeapArray<EarlierBackup>* found = &sources->earlier;
    WIN32_FIND_DATAW entry;
    FindHandle listing = StartListing(root, &entry);
    if (!listing) return;
    do {
        EarlierBackup backup;
        if (!IsPlainSubfolder(entry) || !IsDatedFolderName(entry.cFileName) ||
            !BuildPath(backup.path, ARRAYSIZE(backup.path), root, entry.cFileName) ||
            !IsBackupFolder(backup.path)) {
            continue;
        }
        ULARGE_INTEGER created;
        created.LowPart = entry.ftCreationTime.dwLowDateTime;
        created.HighPart = entry.ftCreationTime.dwHighDateTime;
        backup.created = created.QuadPart;
        size_t at = found->size();
        if (at == EarlierLimit && backup.created <= (*found)[at - 1].created) continue;
        if (at == EarlierLimit) found->Shorten(--at);
        if (!found->Append(backup)) return;
        // Into its place by creation time, newest first.
        for (; at > 0 && (*found)[at - 1].created < backup.created; --at) {
            (*found)[at] = (*found)[at - 1];
        }
        (*found)[at] = backup;
    } while (FindNextFileW(listing.get(), &entry));
}

namespace {

bool EndsWith(const wchar_t* name, const wchar_t* ending) {
    const size_t length = wcslen(name), endingLength = wcslen(ending);
    return length >= endingLength && SameName(name + length - endingLength, ending);
}

// The files at the top of a backup that tell of its own run alone.
bool IsRunRecord(const wchar_t* name) {
    for (const wchar_t* own : {L"backup.log", L"complete.txt", L"incomplete.txt", L"sysdir.txt"}) {
        if (SameName(name, own)) return true;
    }
    return false;
}

// folder joined with name; a folder that is empty gives the name alone.
bool Join(wchar_t* path, const wchar_t* folder, const wchar_t* name) {
    if (folder[0] == L'\0') return CopyWhole(path, JoinedPathCapacity, name);
    return BuildPath(path, JoinedPathCapacity, folder, name);
}

// Opened as the copy opens a file it reads.
FileHandle OpenToCompare(const wchar_t* path) {
    return FileHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool SameBytes(LinkSources* pass, const wchar_t* a, const wchar_t* b, ULONGLONG size) {
    FileHandle first = OpenToCompare(a);
    FileHandle second = OpenToCompare(b);
    if (!first || !second) return false;
    if (pass->mine.empty() &&
        (!pass->mine.Extend(CompareChunk) || !pass->theirs.Extend(CompareChunk)))
        return false;
    for (ULONGLONG left = size; left > 0;) {
        const DWORD chunk = left < CompareChunk ? static_cast<DWORD>(left) : CompareChunk;
        DWORD readFirst = 0, readSecond = 0;
        if (!ReadFile(first.get(), pass->mine.data(), chunk, &readFirst, nullptr) ||
            !ReadFile(second.get(), pass->theirs.data(), chunk, &readSecond, nullptr) ||
            readFirst != chunk || readSecond != chunk ||
            memcmp(pass->mine.data(), pass->theirs.data(), chunk) != 0) {
            return false;
        }
        left -= chunk;
    }
    // Both must end where their sizes said: neither grew meanwhile.
    DWORD more = 0;
    BYTE extra;
    return ReadFile(first.get(), &extra, 1, &more, nullptr) && more == 0 &&
           ReadFile(second.get(), &extra, 1, &more, nullptr) && more == 0;
}

// The file at path becomes a link to earlier; false leaves it as it was.
bool LinkInPlace(LinkSources* pass, const wchar_t* path, const wchar_t* earlier) {
    wchar_t staged[JoinedPathCapacity];
    if (!AddSuffix(staged, path, L".link")) return false;
    DeleteSharedFile(staged);  // left by a run that died here
    if (!Platform.createHardLink(staged, earlier, nullptr)) {
        const DWORD error = GetLastError();
        // A file linked as often as the volume allows stays a copy; any
        // other refusal is the volume's, and holds for every file.
        if (error != ERROR_TOO_MANY_LINKS) pass->linkError = error;
        return false;
    }
    if (MoveFileExW(staged, path, MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteSharedFile(staged);
    return false;
}

// The newest earlier backup that holds a file at `relative` decides: its
// file is the day before's state of this one. Its path, or false when none
// holds a plain file there.
bool FindEarlierFile(const LinkSources& pass, const wchar_t* relative, wchar_t* earlier,
                     ULONGLONG* size) {
    for (const EarlierBackup& backup : pass.earlier) {
        if (!BuildPath(earlier, JoinedPathCapacity, backup.path, relative)) return false;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(earlier, GetFileExInfoStandard, &data)) continue;
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            return false;
        *size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return true;
    }
    return false;
}

// The file at path, `size` bytes long, becomes a link to the earlier file
// it repeats. True also when it is one already.
bool LinkToEarlier(LinkSources* pass, const wchar_t* path, const wchar_t* relative,
                   ULONGLONG size) {
    wchar_t earlier[JoinedPathCapacity];
    ULONGLONG earlierSize = 0;
    if (!FindEarlierFile(*pass, relative, earlier, &earlierSize) || earlierSize != size) {
        return false;
    }
    FileIdentity mine{}, theirs{};
    if (IdentifyPath(path, &mine) == ERROR_SUCCESS &&
        IdentifyPath(earlier, &theirs) == ERROR_SUCCESS && SameIdentity(mine, theirs)) {
        return true;
    }
    return SameBytes(pass, path, earlier, size) && LinkInPlace(pass, path, earlier);
}

ULONGLONG OnDisk(const wchar_t* path, ULONGLONG size) {
    DWORD high = 0;
    const DWORD low = GetCompressedFileSizeW(path, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return size;
    return (ULONGLONG(high) << 32) | low;
}

void LinkFolder(LinkSources* pass, BackupSpace* space, const wchar_t* folder,
                const wchar_t* relative) {
    WIN32_FIND_DATAW entry;
    FindHandle listing = StartListing(folder, &entry);
    if (!listing) return;
    do {
        wchar_t path[JoinedPathCapacity];
        wchar_t inner[JoinedPathCapacity];
        if (!IsSingleName(entry.cFileName) ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !BuildPath(path, ARRAYSIZE(path), folder, entry.cFileName) ||
            !Join(inner, relative, entry.cFileName)) {
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            LinkFolder(pass, space, path, inner);
            continue;
        }
        const ULONGLONG size = (ULONGLONG(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        space->wholeBytes += size;
        // A file that failed its check is never shared.
        const bool linkable = (relative[0] != L'\0' || !IsRunRecord(entry.cFileName)) &&
                              !EndsWith(entry.cFileName, L".bad");
        if (linkable && pass->linkError == ERROR_SUCCESS && Platform.createHardLink &&
            LinkToEarlier(pass, path, inner, size)) {
            ++space->linkedFiles;
        } else {
            space->ownBytes += OnDisk(path, size);
        }
    } while (FindNextFileW(listing.get(), &entry));
}

}  // namespace

bool LinkUnchangedSource(LinkSources* sources, const wchar_t* source, const wchar_t* relative,
                         const wchar_t* destination) {
    wchar_t earlier[JoinedPathCapacity];
    ULONGLONG size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (sources->linkError != ERROR_SUCCESS || !Platform.createHardLink ||
        !FindEarlierFile(*sources, relative, earlier, &size) ||
        !GetFileAttributesExW(source, GetFileExInfoStandard, &data) ||
        ((ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow) != size ||
        !SameBytes(sources, source, earlier, size)) {
        return false;
    }
    // The link is made at destination's own name.
    if (GetFileAttributesW(destination) != INVALID_FILE_ATTRIBUTES) return false;
    if (Platform.createHardLink(destination, earlier, nullptr)) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_TOO_MANY_LINKS) sources->linkError = error;
    return false;
}

void LinkUnchangedFiles(LinkSources* sources, const wchar_t* work, BackupSpace* space) {
    LinkFolder(sources, space, work, L"");
    space->linkError = sources->linkError;
}
