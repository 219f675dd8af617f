#pragma once
// The transaction logs beside a primary hive file, opened for reading, and
// what each one's copy of the base block says about it.
#include <windows.h>

#include "shared/owned_handle.h"

enum class LogKind {
    Absent,   // missing or empty
    Damaged,  // its base block copy is not whole, or it is not a log
    Foreign,  // a log of another hive: its last written time is not the hive's (old
              // format: older than the hive's)
    Old,      // base block, DIRT vector, 512-byte pages
    New,      // base block, HvLE entries
};

struct LogFile {
    FileHandle file;
    unsigned long long size;
    const wchar_t* suffix;  // ".LOG1", ".LOG2" or ".LOG"
    LogKind kind;
    DWORD sectorBytes;  // the first sector: the base block copy; what follows starts after it
    BYTE head[4096];    // the file's first bytes, zeros past its end
};

constexpr size_t LogFileCount = 3;

// Reads exactly count bytes at offset; ERROR_HANDLE_EOF when the file ends
// first. The file pointer ends after them, as for any handle opened without
// FILE_FLAG_OVERLAPPED.
DWORD ReadAt(HANDLE file, unsigned long long offset, void* buffer, DWORD count);

// A log read front to back in large pieces: a walk forward costs one read
// per window, not one per header or page. Meant for the stack, where its
// pages stay at hand from one replay to the next.
constexpr DWORD WindowBytes = 0x20000;

struct LogWindow {
    const LogFile* log = nullptr;
    unsigned long long start = 0;  // file offset of bytes[0]
    DWORD count = 0;               // bytes held
    BYTE bytes[WindowBytes];
};

// Points *bytes at count bytes (at most WindowBytes) of log from offset.
// ERROR_HANDLE_EOF when the log ends first.
DWORD LogBytes(LogWindow* window, const LogFile& log, unsigned long long offset, DWORD count,
               const BYTE** bytes);

// Points *bytes at what the window holds from offset on, at most `most`
// bytes and at least one (*count tells how many), reading on from offset
// when the window holds none of it. The log must go on past offset.
DWORD LogBytesAhead(LogWindow* window, const LogFile& log, unsigned long long offset, DWORD most,
                    const BYTE** bytes, DWORD* count);

// Opens primaryPath + suffix and tells its base block copy against the
// hive's last written time (knownTime false: nothing to match it with).
// A missing file is Absent; any other failure to open or read is returned.
DWORD OpenLogFile(const wchar_t* primaryPath, const wchar_t* suffix, bool knownTime,
                  unsigned long long lastWritten, LogFile* log);

// The sequence number both halves of a usable log's base block copy hold.
DWORD LogSequence(const LogFile& log);

// The last written time in a usable log's base block copy.
unsigned long long LogWritten(const LogFile& log);
