#include "tidy/run_state.h"

bool DryRun = false;
bool RunFailed = false;
int ScheduledHives = 0;
unsigned long long TotalBefore = 0;
unsigned long long TotalAfter = 0;
