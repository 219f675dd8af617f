#pragma once
// A copy of a hive file whose check follows: it leaves the bytes it wrote in
// the hive room's kept memory, and the check of the copy (CheckHiveFile on
// the destination, or HiveOpen then HiveJudge) takes them from there instead
// of reading the file again. The check takes them only for the very file the
// copy made, unchanged since, when no log replay is laid over it, and once.
#include <windows.h>

// CopyFileBytes (shared/file_copy.h), keeping the bytes for the check.
DWORD CopyHiveFile(const wchar_t* source, const wchar_t* destination);
