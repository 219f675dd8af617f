#pragma once
#include <windows.h>

#include "tidy/run_state.h"

// Packs the machine hives in configFolder (<root>\Windows\System32\config
// of an installation that is not running): each file is loaded under a
// scratch key, saved afresh, unloaded, checked, and put in place of the
// original, which is kept with its logs under a "tidy" stamp. A hive the
// installation does not have is passed over; with none at all the run fails.
void PackOfflineInstallation(TidyRun* run, const wchar_t* configFolder);
