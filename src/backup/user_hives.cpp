#include "backup/user_hives.h"
