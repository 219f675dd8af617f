#include "backup/machine_hive.h"
