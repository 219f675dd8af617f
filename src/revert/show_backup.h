#pragma once

// One line per hive file of the backup: its check and where it goes, under
// root when one is given (/n), else its location alone. The exit status:
// done when every hive passes and has a place of its own; with a root,
// exactly when a restore under that root would go ahead.
int ShowBackup(const wchar_t* root);
