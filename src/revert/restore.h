#pragma once

// Puts the backup's hives under TargetRoot, once every one has passed its
// check and been placed; nothing changes otherwise. Online, a hive the
// running system holds loaded is swapped at the next restart. The exit status.
int RestoreBackup(bool online);
