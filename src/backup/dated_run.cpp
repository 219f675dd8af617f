#include "backup/dated_run.h"
void RunDatedBackup() {}
