#pragma once
// revert /diff:OTHER [/key:KEY]: what changed from the backup in OTHER to
// this one, read from both in place through the check. One line per change,
// sorted by key (name by name, without regard to case, a key's values
// before its subkeys):
//   + [KEY] (N subkeys)   a key added, its subkeys counted, not listed
//   - [KEY] (N subkeys)   a key removed
//   + [KEY] "name"        a value added; - removed; ~ changed (type or data)
//   + [KEY] (hive LABEL only in this backup), - ... (only in OTHER)
// The last line gives the counts.
#include <windows.h>

#include "revert/key_path.h"

// Compares every hive that the backup in folder or the one in other holds,
// or the one key; returns the
// exit status: ExitDone when both were read, ExitFailed when a hive could
// not be.
int DiffBackups(const wchar_t* folder, const wchar_t* other, const KeyInBackup* key);
