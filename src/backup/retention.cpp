#include "backup/retention.h"
