#include "service/service_runtime.h"
void RunServiceDispatcher() {}
