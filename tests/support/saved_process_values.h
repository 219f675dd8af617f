// Keeps the process-wide values that tests change (the backup root, the
// module folder, the retention days, the service flag and the clock entry)
// and puts them back when it goes, so each test leaves them as it found them.
#pragma once

#include <windows.h>

#include <string>

#include "app/process_state.h"
#include "backup/retention.h"

class SavedProcessValues {
public:
    SavedProcessValues()
        : backupRoot_(BackupRoot),
          moduleDir_(ModuleDir),
          retentionDays_(RetentionDays),
          serviceMode_(ServiceMode),
          clock_(UtcNowEntry) {}
    ~SavedProcessValues() {
        wcscpy_s(BackupRoot, ARRAYSIZE(BackupRoot), backupRoot_.c_str());
        wcscpy_s(ModuleDir, ARRAYSIZE(ModuleDir), moduleDir_.c_str());
        RetentionDays = retentionDays_;
        ServiceMode = serviceMode_;
        UtcNowEntry = clock_;
    }
    SavedProcessValues(const SavedProcessValues&) = delete;
    SavedProcessValues& operator=(const SavedProcessValues&) = delete;

private:
    std::wstring backupRoot_;
    std::wstring moduleDir_;
    int retentionDays_;
    bool serviceMode_;
    UtcNowFn clock_;
};
