#include "backup/key_save.h"
