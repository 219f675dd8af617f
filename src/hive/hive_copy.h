#pragma once
// A copy of a hive file that checks the copy on the way, and returns both.
#include <windows.h>

#include "hive/hive_check.h"
#include "hive/hive_memory.h"
#include "shared/file_copy.h"

// What copies of hive files one after another keep from one to the next:
// the memory of a hive's bytes and check, and the thread that writes a copy
// out while it is checked. Its owner holds it across the copies.
struct HiveCopier {
    HiveMemory memory;
    CopyWriter writer;
};

// Copies the hive file `source` to `target` (CopyFileBytes), then its
// transaction logs beside it (CopyHiveLogs), and checks the copy with them
// as CheckHiveFile would. A clean hive that fits the arena (hive/hive_bytes.h)
// is read whole and checked in memory, on the bytes the copy writes, while
// the copier's thread writes them; a larger one has its bins gone over chunk
// by chunk on the way, and the check then walks its key tree from the file;
// a dirty one is checked from the file with the logs it brought. Without a
// copier (nullptr) the call uses buffers of its own and writes before it
// checks. ERROR_SUCCESS with the verdict in *verdict and the logs' copy
// status in *logs; or the error that kept the hive file from being copied
// or checked, and then no copy is left.
DWORD CopyAndCheckHive(HiveCopier* copier, const wchar_t* source, const wchar_t* target,
                       HiveCheckResult* verdict, DWORD* logs);
