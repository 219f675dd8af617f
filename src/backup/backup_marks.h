#pragma once
// What a backup folder says about itself. sysdir.txt, written last, makes it
// a finished backup. complete.txt or incomplete.txt, written just before,
// says whether every hive it reported was saved and passed its check; being
// plain files, they travel with any copy of the folder, and the name alone
// carries the answer.
#include <windows.h>

#include "shared/heap_array.h"

// True when folder holds sysdir.txt, the file a finished backup writes last.
bool IsBackupFolder(const wchar_t* folder);

// True when folder holds complete.txt and not incomplete.txt. A backup made
// before these records existed holds neither: it counts as complete when
// the last line of its backup.log says every hive was saved.
bool IsCompleteBackup(const wchar_t* folder);

// True when folder holds complete.txt or incomplete.txt.
bool HasCompletenessRecord(const wchar_t* folder);

// The hives a finished backup saved and checked: the names its backup.log
// gives in the lines of string 339 ("Backup of NAME successfully
// completed"), each with its terminator. False when the log cannot be read
// (a backup made before there was one, or memory ran out).
bool ReadSavedHives(const wchar_t* folder, HeapArray<wchar_t>* names);

// Writes complete.txt or incomplete.txt into folder, holding summary.
// ERROR_SUCCESS or the Win32 error.
DWORD WriteCompletenessRecord(const wchar_t* folder, bool complete, const wchar_t* summary);
