#pragma once
#include <windows.h>

// Copies source to destination byte for byte with backup semantics, in
// 128 KiB chunks, replacing the destination, through the paths as this
// process sees them (zel's CopyLiveFile turns WOW64 redirection off first). A failed copy leaves no
// partial file: a destination it created is deleted, and one it could not replace keeps its
// attributes. Returns ERROR_SUCCESS or the Win32 error of the step that failed.
DWORD CopyFileBytes(const wchar_t* source, const wchar_t* destination);

// Where a copy keeps the file's first bytes, and who it tells of them.
struct CopyHold {
    BYTE* bytes;  // room for the file's first bytes, or nullptr
    size_t capacity;
    size_t held;  // how many it holds once the copy succeeded; 0 after a failure
    // Told of each chunk once written, with its place in the file; or nullptr.
    void (*chunk)(void* context, unsigned long long offset, const BYTE* bytes, DWORD count);
    // Or, when not nullptr and the whole file fits in `bytes`: the file is
    // read whole first, and this is told of it while its bytes are written
    // out on a thread of their own (which must not change them); the chunk
    // callback then goes untold.
    void (*whole)(void* context, const BYTE* bytes, size_t count);
    void* context;
};
// CopyFileBytes, reading the chunks that fit into hold->bytes on the way.
DWORD CopyFileBytesHolding(const wchar_t* source, const wchar_t* destination, CopyHold* hold);

// Copies the transaction logs of the hive file `source` (NAME.LOG1,
// NAME.LOG2 and NAME.LOG) beside `destination` with CopyFileBytes. A log that
// is not there is passed over: on a system that keeps its changes in the
// file itself there is none. ERROR_SUCCESS, or the error of the first log
// that is there and could not be copied.
DWORD CopyHiveLogs(const wchar_t* source, const wchar_t* destination);
