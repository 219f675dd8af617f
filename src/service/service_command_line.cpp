#include "service/service_command_line.h"
