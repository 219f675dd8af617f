#include "backup/reparse_point.h"
