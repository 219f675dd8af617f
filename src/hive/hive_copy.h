#pragma once
// A copy of a hive file whose check follows: it leaves the bytes it wrote in
// the hive room's kept memory, and the check of the copy (CheckHiveFile on
// the destination, or HiveOpen then HiveJudge) takes them from there instead
// of reading the file again. A clean hive that fits the arena is read whole
// and checked (both passes, on the bytes the copy writes) while a thread
// writes it out, and the check of the copy takes that verdict; a larger
// hive's bins are gone over chunk by chunk on the way, and the check takes
// that pass. The check takes any of it only for the very file the copy
// made, unchanged since, when no log replay is laid over it, and once.
#include <windows.h>

// CopyFileBytes (shared/file_copy.h), keeping the bytes for the check.
DWORD CopyHiveFile(const wchar_t* source, const wchar_t* destination);
