#pragma once

// One line per hive file of the backup: its check and where it goes. The
// exit status: done when every hive passes and has a place.
int ShowBackup();
