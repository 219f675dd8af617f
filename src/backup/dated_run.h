#pragma once

// Purges old backups, then makes today's backup under BackupRoot unless
// today's folder exists. Appends "\YYYY-MM-DD" to BackupRoot.
void RunDatedBackup();
