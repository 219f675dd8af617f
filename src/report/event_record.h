#pragma once
// The one record that each service run writes to the Application event log,
// from source "zel": information when every hive was saved, a warning that
// names the failed hives otherwise.
#include <windows.h>

#include "report/run_result.h"

// Writes the record of the run that just ended under root.
void RecordServiceRun(const wchar_t* root, const RunResult& run);
