#pragma once
// The system calls whose failures and effects a test must be able to bring
// about or watch: a rename that fails midway, a read cut short, a status sent
// to the service control manager, a hive replaced at the next start (which
// Wine only stubs), the size from which a hive is read as a large one, and
// the size from which a copy writes beside its owner's work.
// Every program calls them through this one table. Each
// entry starts as the real call; a call that the oldest supported Windows
// lacks starts as the result of its lookup, null where it is missing. Only
// tests put other entries in, through a scope that puts the real one back.
#include <windows.h>

using CreateHardLinkFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES);
using RegSaveKeyExFn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, LPSECURITY_ATTRIBUTES, DWORD);
using Wow64DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertRedirectionFn = BOOL(WINAPI*)(PVOID);

struct PlatformCalls {
    // Files and folders.
    decltype(&MoveFileExW) moveFile;    // a hive file or log set aside or put back
    decltype(&MoveFileExW) moveFolder;  // a backup folder taking or giving up its name
    decltype(&ReadFile) readFile;       // the reads of a file copy
    decltype(&CreateDirectoryW) createDirectory;
    CreateHardLinkFn createHardLink;  // null where the system has none
    // The clock of the day's name, and of the daily service's wake-ups.
    decltype(&GetLocalTime) getLocalTime;
    // The registry.
    RegSaveKeyExFn regSaveKeyEx;  // null before Windows XP
    decltype(&RegReplaceKeyW) regReplaceKey;
    // Services and the event log.
    decltype(&SetServiceStatus) setServiceStatus;
    decltype(&RegisterServiceCtrlHandlerW) registerServiceCtrlHandler;
    decltype(&ReportEventW) reportEvent;
    // WOW64's file-system redirection switches: null unless the process is a
    // 32-bit one on 64-bit Windows.
    Wow64DisableRedirectionFn wow64DisableRedirection;
    Wow64RevertRedirectionFn wow64RevertRedirection;
    // Whether the process runs under Wine.
    bool (*runsUnderWine)();
    // The most hive bins data the hive room reads whole (hive/hive_bytes.h,
    // HiveWholeBytes); a test lowers it to take a larger hive's roads.
    DWORD hiveWholeLimit;
    // The least size of a copy held whole that the writer's thread writes
    // while the hold's owner looks at it (shared/file_copy.h); below it the
    // handing over costs more than it overlaps. A test sets 0 to take that road.
    DWORD besideWriteMinimum;
};

extern PlatformCalls Platform;
