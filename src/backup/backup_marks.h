#pragma once
// What a backup folder says about itself. sysdir.txt, written last, makes it
// a finished backup. complete.txt or incomplete.txt, written just before,
// says whether every hive it reported was saved and passed its check; being
// plain files, they travel with any copy of the folder, and the name alone
// carries the answer.
#include <windows.h>

// True when folder holds sysdir.txt, the file a finished backup writes last.
bool IsBackupFolder(const wchar_t* folder);

// True when folder holds complete.txt and not incomplete.txt. A backup made
// before these records existed holds neither: it counts as complete when
// the last line of its backup.log says every hive was saved.
bool IsCompleteBackup(const wchar_t* folder);

// Writes complete.txt or incomplete.txt into folder, holding summary.
// ERROR_SUCCESS or the Win32 error.
DWORD WriteCompletenessRecord(const wchar_t* folder, bool complete, const wchar_t* summary);
