#pragma once
// The marks a finished backup's files carry, and their keeping. A file of a
// backup may be a hard link that other days' backups share, so its
// attributes are those of every link: a change through one is a change
// through all.
#include <windows.h>

// Asks the file system to store whatever is written into folder compressed
// (FSCTL_SET_COMPRESSION); files and folders made in it later inherit it.
// ERROR_SUCCESS, or the error of a volume that cannot (FAT, ReFS, a share).
DWORD CompressFolder(const wchar_t* folder);

// Marks every file in folder and the folders below it read-only, so that no
// link of it is changed by whoever opens one day's copy. Links to other
// places are passed over. ERROR_SUCCESS or the first error met.
DWORD MarkFilesReadOnly(const wchar_t* folder);

// Deletes the file at path, read-only or not. When other links share the
// file, they keep its attributes, read-only among them. DeleteFileW's result,
// with its error in GetLastError().
BOOL DeleteSharedFile(const wchar_t* path);
