#pragma once
#include <windows.h>

// Copies source to destination byte for byte with backup semantics, in
// 128 KiB chunks, replacing the destination, through the paths as this
// process sees them (zel's CopyLiveFile turns WOW64 redirection off first). A failed copy leaves no
// partial file: a destination it created is deleted, and one it could not replace keeps its
// attributes. A source that ends before the size it had when opened fails with
// ERROR_HANDLE_EOF. Returns ERROR_SUCCESS or the Win32 error of the step that failed.
DWORD CopyFileBytes(const wchar_t* source, const wchar_t* destination);

// A thread that writes out the files that copies hold whole, for its
// owner's copies one after another: made on first use (under Wine a new
// thread takes milliseconds to start), ended with its owner.
class CopyWriter {
 public:
    CopyWriter() = default;
    ~CopyWriter();
    CopyWriter(const CopyWriter&) = delete;
    CopyWriter& operator=(const CopyWriter&) = delete;
    // Starts writing `count` bytes from `bytes` to `file`; false when no
    // thread could be had.
    bool Start(HANDLE file, const BYTE* bytes, size_t count);
    // Waits for what Start began; ERROR_SUCCESS or the write's error.
    DWORD Finish();

 private:
    static DWORD WINAPI Run(void* self);
    HANDLE thread_ = nullptr;
    HANDLE given_ = nullptr;
    HANDLE done_ = nullptr;
    bool ending_ = false;
    HANDLE file_ = nullptr;
    const BYTE* bytes_ = nullptr;
    size_t count_ = 0;
    DWORD error_ = ERROR_SUCCESS;
};

// Who a copy tells of the bytes it moves.
struct CopyHold {
    // Room for the whole file of `total` bytes, which is then read into it
    // before any is written; or nullptr, to copy it a chunk at a time.
    BYTE* (*room)(void* context, unsigned long long total);
    // Told of each chunk once written, with its place in the file; or nullptr.
    void (*chunk)(void* context, unsigned long long offset, const BYTE* bytes, DWORD count);
    // Told of a file read whole while its bytes are written out, on the
    // writer's thread when there is one (and then it must not change them).
    void (*whole)(void* context, const BYTE* bytes, size_t count);
    CopyWriter* writer;  // or nullptr: the writing then comes first
    void* context;
};
// CopyFileBytes, telling `hold` of the bytes on the way.
DWORD CopyFileBytesHolding(const wchar_t* source, const wchar_t* destination, const CopyHold& hold);

// Copies the transaction logs of the hive file `source` (NAME.LOG1,
// NAME.LOG2 and NAME.LOG) beside `destination` with CopyFileBytes. A log that
// is not there is passed over: on a system that keeps its changes in the
// file itself there is none. ERROR_SUCCESS, or the error of the first log
// that is there and could not be copied.
DWORD CopyHiveLogs(const wchar_t* source, const wchar_t* destination);
