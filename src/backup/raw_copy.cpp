#include "backup/raw_copy.h"
