#pragma once
#include <windows.h>

// Enables SeRestorePrivilege and SeBackupPrivilege on the process token.
// Only a refused adjustment is reported; lookups that fail are silent.
// Returns ERROR_SUCCESS when the token now holds both enabled, or the reason
// it does not (ERROR_NOT_ALL_ASSIGNED for a token without them).
DWORD EnableBackupPrivileges();
