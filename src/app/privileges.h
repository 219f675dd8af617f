#pragma once

// Enables SeRestorePrivilege and SeBackupPrivilege on the process token.
// Only a refused adjustment is reported; lookups that fail are silent.
void EnableBackupPrivileges();
