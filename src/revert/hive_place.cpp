#include "revert/hive_place.h"

#include <wchar.h>

#include "shared/console.h"
#include "shared/location_text.h"
#include "shared/name_case.h"
#include "shared/owned_handle.h"

namespace {

// Characters of the top folder of a path: "X:\" or "\\server\share\";
// 0 for any other form.
size_t TopLength(const wchar_t* path) {
    if (path[0] != L'\0' && path[1] == L':' && path[2] == L'\\') return 3;
    if (path[0] != L'\\' || path[1] != L'\\') return 0;
    const wchar_t* share = wcschr(path + 2, L'\\');
    const wchar_t* after = share ? wcschr(share + 1, L'\\') : nullptr;
    return after ? static_cast<size_t>(after - path) + 1 : 0;
}

// The location text as the backup names it: "sysdir.txt" or
// "<SID>\NTUSER.DAT.txt".
void LocationName(const BackupHive* hive, wchar_t* name, size_t capacity) {
    if (hive->machine) {
        FormatText(name, capacity, L"sysdir.txt");
    } else {
        FormatText(name, capacity, L"%s.txt", hive->label);
    }
}

bool IsUnder(const wchar_t* path, const wchar_t* root) {
    const size_t length = wcslen(root);
    if (length == 0 || !SameName(path, root, length)) return false;
    return root[length - 1] == L'\\' ? path[length] != L'\0' : path[length] == L'\\';
}

// A junction or link on the way could lead the write anywhere, and a folder
// of the backup would have the restore overwrite what it reads.
DWORD CheckFoldersOnTheWay(const wchar_t* root, const FileIdentity& backup, BackupHive* hive,
                           wchar_t* reason) {
    const wchar_t* path = hive->destination;
    wchar_t folder[JoinedPathCapacity];
    CopyWhole(folder, ARRAYSIZE(folder), path);
    for (wchar_t* end = wcschr(folder + wcslen(root) + 1, L'\\'); end;
         end = wcschr(end + 1, L'\\')) {
        *end = L'\0';
        const DWORD attributes = GetFileAttributesW(folder);
        DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;
        if (error != ERROR_SUCCESS) {
            FormatText(reason, ReasonCapacity, L"no folder %s", folder);
            return error;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            FormatText(reason, ReasonCapacity, L"%s is not a folder", folder);
            return ERROR_DIRECTORY;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            FormatText(reason, ReasonCapacity, L"%s is a link", folder);
            return ERROR_BAD_PATHNAME;
        }
        error = IdentifyPath(folder, &hive->folder);
        if (error != ERROR_SUCCESS) {
            FormatText(reason, ReasonCapacity, L"unable to open %s", folder);
            return error;
        }
        if (SameIdentity(hive->folder, backup)) {
            FormatText(reason, ReasonCapacity, L"%s lies inside the backup folder", path);
            return ERROR_BAD_PATHNAME;
        }
        *end = L'\\';
    }
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        FormatText(reason, ReasonCapacity, L"%s is a folder", path);
        return ERROR_DIRECTORY;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD CheckOutsideBackup(const wchar_t* folder, const FileIdentity& backup, wchar_t* reason) {
    wchar_t walk[JoinedPathCapacity];
    if (!CopyWhole(walk, ARRAYSIZE(walk), folder) ||
        (walk[0] != L'\0' && walk[1] == L':' && walk[2] == L'\0' &&
         !CopyWhole(walk + 2, ARRAYSIZE(walk) - 2, L"\\"))) {
        FormatText(reason, ReasonCapacity, L"%s is too long", folder);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    const size_t top = TopLength(walk);
    for (;;) {
        FileIdentity id;
        const DWORD error = IdentifyPath(walk, &id);
        if (error != ERROR_SUCCESS) {
            FormatText(reason, ReasonCapacity, L"unable to open %s", walk);
            return error;
        }
        if (SameIdentity(id, backup)) {
            FormatText(reason, ReasonCapacity, L"%s lies inside the backup folder", folder);
            return ERROR_BAD_PATHNAME;
        }
        wchar_t* cut = wcsrchr(walk, L'\\');
        if (wcslen(walk) <= top || !cut) return ERROR_SUCCESS;
        cut[static_cast<size_t>(cut - walk) < top ? 1 : 0] = L'\0';
    }
}

const wchar_t* BelowRoot(const wchar_t* destination, const wchar_t* root) {
    const size_t length = wcslen(root);
    return destination + (length > 0 && root[length - 1] == L'\\' ? length - 1 : length);
}

DWORD ReadHiveLocation(const BackupHive* hive, wchar_t* location, wchar_t* reason) {
    wchar_t name[JoinedPathCapacity + 8];
    LocationName(hive, name, ARRAYSIZE(name));
    DWORD error = ReadLocationText(hive->locationFile, location, JoinedPathCapacity);
    if (error != ERROR_SUCCESS) {
        FormatText(reason, ReasonCapacity, L"%s unreadable", name);
        return error;
    }
    if (!IsContainedLocation(location)) {
        // Shown as it is, save what could break the console line.
        for (wchar_t* c = location; *c; ++c) {
            if (*c < 0x20) *c = L'?';
        }
        FormatText(reason, ReasonCapacity, L"%s holds \"%s\", not a plain path without a drive",
                   name, location);
        return ERROR_BAD_PATHNAME;
    }
    if (hive->machine && !(JoinPath(location, JoinedPathCapacity, L"config") &&
                           JoinPath(location, JoinedPathCapacity, hive->label))) {
        FormatText(reason, ReasonCapacity, L"%s holds a path too long", name);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

DWORD PlaceHive(BackupHive* hive, const wchar_t* root, const FileIdentity& backup,
                wchar_t* reason) {
    wchar_t location[JoinedPathCapacity];
    DWORD error = ReadHiveLocation(hive, location, reason);
    if (error != ERROR_SUCCESS) return error;
    if (!BuildPath(hive->destination, ARRAYSIZE(hive->destination), root, location)) {
        FormatText(reason, ReasonCapacity, L"%s under %s is too long", location, root);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (!IsUnder(hive->destination, root)) {
        FormatText(reason, ReasonCapacity, L"%s is not under %s", hive->destination, root);
        return ERROR_BAD_PATHNAME;
    }
    // A profile's location text could otherwise aim its hive at a machine
    // hive, or the other way round.
    if (!SameName(FinalName(hive->destination), FinalName(hive->label))) {
        FormatText(reason, ReasonCapacity, L"%s is not a file named %s", hive->destination,
                   FinalName(hive->label));
        return ERROR_BAD_PATHNAME;
    }
    return CheckFoldersOnTheWay(root, backup, hive, reason);
}
