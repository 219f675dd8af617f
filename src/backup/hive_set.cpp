#include "backup/hive_set.h"
