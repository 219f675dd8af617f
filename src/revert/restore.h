#pragma once
#include "revert/run_state.h"

// Puts the chosen hives of the run's list under its root, once every one has
// passed its check and been placed; nothing changes otherwise, and when only
// some hives were refused, the command for the rest is shown. Online, a hive
// the running system holds loaded is swapped at the next restart. The exit
// status.
int RestoreBackup(RevertRun* run, bool online);
