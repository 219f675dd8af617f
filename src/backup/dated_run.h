#pragma once
#include <windows.h>

// Purges old backups, then makes today's backup under BackupRoot unless
// today's folder exists. Appends "\YYYY-MM-DD" to BackupRoot.
void RunDatedBackup();

// After creating today's folder failed (created FALSE, error from
// GetLastError()): true when another run made it first, so this run must add
// nothing. A plain file of that name does not count.
bool FolderMadeByAnotherRun(BOOL created, DWORD error, const wchar_t* folder);
