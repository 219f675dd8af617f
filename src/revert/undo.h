#pragma once
#include "revert/run_state.h"

// Takes back the most recent restore under the run's root, the one the
// journal names last, whatever the clock said, whichever hives of the run's
// list it chose (only those need a place): beside each file it replaced, its
// kept files take their names again and what it brought where nothing was
// goes. A restore cut short is taken back the same way. Online, a loaded
// hive is swapped back at the next restart. The exit status.
int UndoRestore(RevertRun* run, bool online);

// Takes back the restore under stamp (saying first, when it was cut short,
// that it did not finish), the run's hives planned: writes "undo" to the
// journal first and "undone" once everything is back, so an undo cut short
// is taken up again by the next run.
bool UndoKept(RevertRun* run, const wchar_t* stamp, bool cutShort, bool online);
