#include "fs/directory_probe.h"
