#pragma once
// The part of a backup a run acts on: /only:NAME[,NAME...], where NAME is a
// machine hive (BCD, SYSTEM, SOFTWARE, DEFAULT, SAM, SECURITY, DRIVERS,
// COMPONENTS), "machine" (all of them), "users" (every profile) or a
// profile's SID (both its hives), in any case.
#include <windows.h>

#include "revert/backup_hives.h"
#include "revert/run_state.h"

// Marks the hives (and the boot store) of the backup in backupFolder the
// names stand for, and no others.
// A name that is none of the above, or that the backup holds nothing of,
// is reported; false then.
bool ChooseHives(const wchar_t* names, const wchar_t* backupFolder, HiveTable* list);

// After a plan refused some hives alone: names each part that has a refused
// hive, and prints the command that restores every other chosen part, with
// its /only: list written out, under root (offline) or online.
void PrintRestCommand(const RevertRun& run, const wchar_t* root, bool online);
