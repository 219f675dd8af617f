#include "shared/file_identity.h"

#include "shared/owned_handle.h"

bool IdentifyHandle(HANDLE file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return false;
    *identity = {true, information.dwVolumeSerialNumber, information.nFileIndexHigh,
                 information.nFileIndexLow};
    return true;
}

DWORD IdentifyPath(const wchar_t* path, FileIdentity* identity) {
    FileHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file || !IdentifyHandle(file.get(), identity)) return GetLastError();
    return ERROR_SUCCESS;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.volume == b.volume && a.indexHigh == b.indexHigh &&
           a.indexLow == b.indexLow;
}
