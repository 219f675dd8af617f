#pragma once
// revert's process-wide values: filled once at start-up and read by every
// part of the program.
#include <windows.h>

#include "revert/backup_hives.h"
#include "shared/exit_status.h"
#include "shared/path_join.h"
#include "shared/platform.h"

// Files revert replaces are kept as NAME.revert-YYYYMMDD-HHMMSS.
constexpr const wchar_t* RevertTag = L"revert";

// The dated backup folder the hives come from.
extern wchar_t BackupFolder[JoinedPathCapacity];
// The root every destination is put under: the /offline: root, or for
// /online the system drive ("C:").
extern wchar_t TargetRoot[JoinedPathCapacity];
// The one list a run works through: only one action runs.
extern HiveTable HiveList;

// Under WOW64, turns file-system redirection off for the rest of the
// process, so system32 means the real one.
void LeaveWow64Views();
