#pragma once
// revert /export:KEY /to:FILE: one key of the backup, with all its subkeys
// and values, written as a registration file (revert/reg_file_writer.h)
// that reg import puts back where it came from. The hive is read in place
// through its check; nothing is loaded and the backup is not changed.
#include <windows.h>

#include "revert/key_path.h"

// Writes the key of the backup in backupFolder to `file`, a new file, and
// returns the exit status. Nothing is left behind when anything fails.
int ExportKey(const wchar_t* backupFolder, const KeyInBackup& key, const wchar_t* file);
