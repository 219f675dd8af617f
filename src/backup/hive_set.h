#pragma once

// The machine half of a backup into BackupRoot: boot store, the machine
// hives the system has, then the profile hives.
void BackupAllHives();
