#pragma once
// Values filled once at start-up and read by every part of the program.
// BackupRoot alone changes later: the dated run points it at the folder it fills,
// and at the day's folder once that stands.
#include <windows.h>

#include "shared/console.h"  // ServiceMode

constexpr size_t PathCapacity = 2048;      // ordinary paths and message lines
constexpr size_t LongPathCapacity = 4096;  // BackupRoot, ModuleDir, report lines

extern wchar_t SystemDir[PathCapacity];
extern wchar_t ModuleDir[LongPathCapacity];
extern wchar_t BackupRoot[LongPathCapacity];
extern int RetentionDays;

extern bool UnderWow64;
extern DWORD KeyViewFlag;
extern DWORD OsMajor;
extern DWORD OsMinor;

// Functions looked up at run time; null when the platform lacks them.
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using RegSaveKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, LPSECURITY_ATTRIBUTES, DWORD);
using Wow64DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertRedirectionFn = BOOL(WINAPI*)(PVOID);

extern IsWow64ProcessFn IsWow64ProcessEntry;
extern RegSaveKeyExFn RegSaveKeyExEntry;
extern Wow64DisableRedirectionFn Wow64DisableRedirectionEntry;
extern Wow64RevertRedirectionFn Wow64RevertRedirectionEntry;
