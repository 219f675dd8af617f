#pragma once
#include <windows.h>

// The backup's boot store is never replaced; bcdedit imports it. Fills
// path with its file and returns true when the backup in backupFolder has
// one.
bool FindBootStore(const wchar_t* backupFolder, wchar_t* path);

// After a restore: the command that puts the boot store back, when the
// backup holds one that passes its check.
void PrintBootStoreAdvice(const wchar_t* backupFolder);
