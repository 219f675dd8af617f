#pragma once
#include <windows.h>

#include "revert/backup_hives.h"

// Finds the backup's hives and places each under TargetRoot; with
// checkHives each must also pass the hive check. Every refusal is printed.
// True only when there is a hive and nothing was refused: then, and only
// then, may anything be changed.
bool PlanHives(BackupHive* hives, size_t* count, bool checkHives);
