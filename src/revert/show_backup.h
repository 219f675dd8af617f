#pragma once
#include "revert/run_state.h"

// One line per chosen hive file of the backup: its check and where it goes,
// under root when one is given (/n; online tells which restore it stands
// for), else under the installation the backup folder lies in, when one is
// found there, else its location alone. The exit status: done when every
// hive passes and has a place of its own; with a root, exactly when a
// restore under that root would go ahead. When only some hives are refused
// under a given root, the command that restores the rest follows.
int ShowBackup(RevertRun* run, const wchar_t* root, bool online);
