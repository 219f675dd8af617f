#pragma once
#include "tidy/run_state.h"

// Packs every hive the running system has loaded, as the hivelist names
// them with their files: SYSTEM, SOFTWARE, DEFAULT, SAM, SECURITY, DRIVERS
// and COMPONENTS where loaded, and each user's NTUSER.DAT (HKU\<SID>) and
// UsrClass.dat (HKU\<SID>_Classes). A live file that cannot be found on a
// drive letter is reported and passed over.
void PackLoadedHives(TidyRun* run);
