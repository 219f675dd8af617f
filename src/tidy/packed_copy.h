#pragma once
// The packed copy of a hive: saved afresh from its loaded key into a work
// file beside the hive file, then checked before anything relies on it.
#include <windows.h>

#include "tidy/run_state.h"

// work = hive + ".tidy-new". False when that does not fit a path.
bool WorkFileName(wchar_t* work, const wchar_t* hive);

// Saves key, packed, to target in `format` (REG_STANDARD_FORMAT or
// REG_LATEST_FORMAT; RegSaveKeyW's own without RegSaveKeyExW), replacing a
// leftover of an earlier run. A failed save leaves no file. The Reg* status.
DWORD SavePackedCopy(HKEY key, const wchar_t* target, DWORD format);

// Checks the saved copy with the shared hive check. A copy that fails, or
// cannot be read, is reported under name and deleted.
bool CheckPackedCopy(TidyRun* run, const wchar_t* name, const wchar_t* copy);
