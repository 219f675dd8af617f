#include "backup/boot_store.h"
