#pragma once

// Fills SystemDir, ModuleDir, the WOW64 redirection entries, OsMajor and
// OsMinor, the locale and the default BackupRoot.
// Reports nothing.
void CaptureStartupValues();
