#pragma once
// Hives the running system holds loaded: their files cannot be touched, so
// the swap is left to the next start through Platform.regReplaceKey.
#include <windows.h>

#include "revert/backup_hives.h"
#include "shared/owned_handle.h"

// Opens the hive's root key when the running system has it loaded.
bool OpenLoadedHive(const BackupHive* hive, KeyHandle* key);

// Copies the backup's hive beside the live file as NAME.revert-<stamp>.new
// (a dirty one as the image its logs recover), checks it, and has it take
// the live file's place at the next start, the live file then kept as
// NAME.revert-<stamp>. Prints one line.
bool ScheduleReplace(const BackupHive* hive, HKEY key, const wchar_t* stamp);

// Has the file kept under keptStamp take the live file's place at the next
// start, the live file then kept under stamp. Prints one line.
bool ScheduleUndo(const BackupHive* hive, HKEY key, const wchar_t* keptStamp, const wchar_t* stamp);
