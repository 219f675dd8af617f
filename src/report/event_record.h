#pragma once
// The one record that each service run writes to the Application event log,
// from source "zel": information when every hive was saved, a warning that
// names the failed hives otherwise.
#include <windows.h>

// How a run ended, besides what its hives and steps tell.
enum class RunEnd {
    Made,       // a backup was made, or a step stopped the run
    Stands,     // today's backup stands already
    UnderWay,   // another run holds the lock
    NameTaken,  // today's name holds something that is not a backup
    NotKept,    // the new backup was incomplete and today's complete one stays
};

// Writes the record of the run that just ended under root into folder (the
// day's folder), from HivesReported, HivesFailed, FailedHiveNames, how the
// run ended and the error of the step that stopped it (ERROR_SUCCESS when
// none did).
void RecordServiceRun(const wchar_t* root, const wchar_t* folder, RunEnd end, DWORD stepError);
