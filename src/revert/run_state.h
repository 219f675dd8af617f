#pragma once
// What one run of revert was given and what it has found so far, handed down
// to every step that needs it.
#include <windows.h>

#include "revert/backup_hives.h"
#include "revert/restore_journal.h"
#include "shared/exit_status.h"
#include "shared/path_join.h"
#include "shared/platform.h"

// Files revert replaces are kept as NAME.revert-YYYYMMDD-HHMMSS.
constexpr const wchar_t* RevertTag = L"revert";

struct RevertRun {
    // The dated backup folder the hives come from.
    wchar_t backupFolder[JoinedPathCapacity] = {};
    // The root every destination is put under: the /offline: root, or for
    // /online the system drive ("C:").
    wchar_t targetRoot[JoinedPathCapacity] = {};
    // The backup's hives, for the listing and a restore: only one action runs.
    HiveTable hives;
    RestoreJournal journal;
};

// Under WOW64, turns file-system redirection off for the rest of the
// process, so system32 means the real one.
void LeaveWow64Views();
