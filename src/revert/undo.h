#pragma once

// Puts back, beside every destination of the backup's hives under
// TargetRoot, the files that the most recent restore kept. Online, a loaded
// hive is swapped back at the next restart. The exit status.
int UndoRestore(bool online);
