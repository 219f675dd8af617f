#include <windows.h>

#include <locale.h>

#include "revert/backup_diff.h"
#include "revert/command_line.h"
#include "revert/export_key.h"
#include "revert/restore.h"
#include "revert/run_state.h"
#include "revert/show_backup.h"
#include "revert/undo.h"
#include "shared/console.h"
#include "shared/privileges.h"
#include "version.h"

namespace {

// Online, everything goes under the drive of the system folder, the one
// sysdir.txt was taken from.
bool TakeSystemDrive() {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, ARRAYSIZE(system));
    if (length < 2 || length >= ARRAYSIZE(system) || system[1] != L':') return false;
    system[2] = L'\0';
    return CopyWhole(TargetRoot, ARRAYSIZE(TargetRoot), system);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    setlocale(LC_ALL, "");
    RevertRequest request;
    const int ended = ExitStatusOf(ReadCommandLine(argc, argv, &request));
    if (ended >= 0) return ended;

    PrintLine(L"REVERT - " VERSION_BANNER);
    const DWORD privileges = EnableBackupPrivileges();
    LeaveWow64Views();
    wchar_t line[2 * JoinedPathCapacity];
    FormatText(line, ARRAYSIZE(line), L"Backup folder: %s", BackupFolder);
    PrintLine(line);
    if (request.action == RevertAction::Show) return ShowBackup(nullptr, false);
    if (request.action == RevertAction::Export) return ExportKey(request.key, request.file);
    if (request.action == RevertAction::Diff) {
        return DiffBackups(request.other, request.keyGiven ? &request.key : nullptr);
    }

    if (request.action == RevertAction::Online) {
        if (privileges != ERROR_SUCCESS) {
            PrintError(privileges, L"(!) /online needs the backup and restore privileges");
            return ExitFailed;
        }
        if (!TakeSystemDrive()) {
            PrintLine(L"(!) Unable to tell the drive Windows runs from");
            return ExitFailed;
        }
    }
    FormatText(line, ARRAYSIZE(line), L"Windows root: %s", TargetRoot);
    PrintLine(line);
    const bool online = request.action == RevertAction::Online;
    if (request.dryRun) return ShowBackup(TargetRoot, online);
    return request.undo ? UndoRestore(online) : RestoreBackup(online);
}
