#include "backup/redirection_guard.h"
