#pragma once

// Fills SystemDir, ModuleDir, the run-time function entries, UnderWow64,
// KeyViewFlag, OsMajor/OsMinor, the locale and the default BackupRoot.
// Reports nothing.
void CaptureStartupValues();
