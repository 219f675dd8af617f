#include "backup/reparse_point.h"

#include <stddef.h>
#include <string.h>
#include <strsafe.h>
#include <wchar.h>
#include <winioctl.h>

#include "fs/directory_probe.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"

namespace {

// REPARSE_DATA_BUFFER as documented; MinGW's user-mode headers do not carry
// it. The fields are read with memcpy, so the data needs no alignment.
struct ReparseHeader {
    DWORD ReparseTag;
    WORD ReparseDataLength;  // bytes that follow this header
    WORD Reserved;
};
struct MountPointFields {
    WORD SubstituteNameOffset;
    WORD SubstituteNameLength;
    WORD PrintNameOffset;  // bytes, relative to PathBuffer
    WORD PrintNameLength;  // bytes, without a terminator
};
struct SymbolicLinkFields {
    WORD SubstituteNameOffset;
    WORD SubstituteNameLength;
    WORD PrintNameOffset;
    WORD PrintNameLength;
    DWORD Flags;
};
static_assert(sizeof(ReparseHeader) == 8, "REPARSE_DATA_BUFFER header");
static_assert(sizeof(MountPointFields) == 8, "MountPointReparseBuffer fields");
static_assert(sizeof(SymbolicLinkFields) == 12, "SymbolicLinkReparseBuffer fields");

constexpr DWORD ReparseBufferBytes = 16384;
constexpr DWORD OpenReparsePointFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct PrintName {
    const BYTE* first;  // UTF-16LE code units, not aligned
    size_t length;      // characters before the end of the field or an embedded NUL
};

wchar_t CharAt(const BYTE* text, size_t index) {
    wchar_t c;
    memcpy(&c, text + index * sizeof(wchar_t), sizeof(c));
    return c;
}

// Finds the print name; false when its field does not lie within the reparse
// data, which itself must lie within the `size` bytes returned.
bool LocatePrintName(const BYTE* data, DWORD size, DWORD fieldBytes, WORD offset, WORD length,
                     PrintName* name) {
    ReparseHeader header;
    memcpy(&header, data, sizeof(header));
    DWORD end = sizeof(ReparseHeader) + header.ReparseDataLength;
    if (end > size) return false;
    if (end < sizeof(ReparseHeader) + fieldBytes) return false;
    if (offset % sizeof(wchar_t) != 0 || length % sizeof(wchar_t) != 0) return false;
    DWORD pathBuffer = sizeof(ReparseHeader) + fieldBytes;
    if (static_cast<DWORD>(offset) + length > end - pathBuffer) return false;

    name->first = data + pathBuffer + offset;
    size_t count = length / sizeof(wchar_t);
    name->length = 0;
    while (name->length < count && CharAt(name->first, name->length) != L'\0') ++name->length;
    return true;
}

// Reads the tag's fields after the header and finds their print name.
template <class Fields>
bool ReadPrintName(const BYTE* data, DWORD size, Fields* fields, PrintName* name) {
    if (size < sizeof(ReparseHeader) + sizeof(Fields)) return false;
    memcpy(fields, data + sizeof(ReparseHeader), sizeof(Fields));
    return LocatePrintName(data, size, sizeof(Fields), fields->PrintNameOffset,
                           fields->PrintNameLength, name);
}

}  // namespace

bool DecodeReparseTarget(const BYTE* data, DWORD size, wchar_t* path, size_t capacity) {
    if (data == nullptr || path == nullptr || capacity == 0) return false;
    if (size < sizeof(ReparseHeader)) return false;
    size_t room = capacity < SystemTextCapacity ? capacity : SystemTextCapacity;

    ReparseHeader header;
    memcpy(&header, data, sizeof(header));
    PrintName name{};
    bool relative = false;
    if (header.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT) {
        MountPointFields fields;
        if (!ReadPrintName(data, size, &fields, &name)) return false;
    } else if (header.ReparseTag == IO_REPARSE_TAG_SYMLINK) {
        SymbolicLinkFields fields;
        if (!ReadPrintName(data, size, &fields, &name)) return false;
        relative = (fields.Flags & SYMLINK_FLAG_RELATIVE) != 0;
    } else {
        return false;
    }

    if (name.length >= room) return false;
    wchar_t target[SystemTextCapacity];
    memcpy(target, name.first, name.length * sizeof(wchar_t));
    target[name.length] = L'\0';

    if (relative) {
        // The target sits beside the link: replace the link's own name.
        wchar_t joined[SystemTextCapacity];
        if (FAILED(StringCchCopyW(joined, room, path))) return false;
        wchar_t* lastSeparator = wcsrchr(joined, L'\\');
        if (lastSeparator != nullptr) *lastSeparator = L'\0';
        if (!JoinPath(joined, room, target)) return false;
        StringCchCopyW(path, room, joined);
        return true;
    }
    StringCchCopyW(path, room, target);
    UpperCaseInPlace(path);
    return true;
}

bool ResolveReparsePoint(wchar_t* path, wchar_t* spelling) {
    // Most folders on the way are plain: their attributes, one cheap look,
    // rule them out before the listing that tells a link's kind.
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        return false;
    }
    WIN32_FIND_DATAW entry;
    if (!IsDirectory(path, &entry)) return false;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;

    FileHandle link(
        CreateFileW(path, 0, ShareAll, nullptr, OPEN_EXISTING, OpenReparsePointFlags, nullptr));
    if (!link) return false;

    alignas(8) BYTE data[ReparseBufferBytes];
    DWORD returned = 0;
    if (!DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof(data),
                         &returned, nullptr)) {
        return false;
    }
    // Only the bytes the platform returned are looked at.
    wchar_t told[SystemTextCapacity];
    if (spelling && (FAILED(StringCchCopyW(told, ARRAYSIZE(told), spelling)) ||
                     !DecodeReparseTarget(data, returned, told, ARRAYSIZE(told)))) {
        return false;
    }
    if (!DecodeReparseTarget(data, returned, path, SystemTextCapacity)) return false;
    if (spelling) StringCchCopyW(spelling, SystemTextCapacity, told);
    return true;
}
