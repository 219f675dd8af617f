#include "service/service_install.h"
int InstallService() { return 0; }
int UninstallService() { return 0; }
