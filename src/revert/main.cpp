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
bool TakeSystemDrive(RevertRun* run) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, ARRAYSIZE(system));
    if (length < 2 || length >= ARRAYSIZE(system) || system[1] != L':') return false;
    system[2] = L'\0';
    return CopyWhole(run->targetRoot, ARRAYSIZE(run->targetRoot), system);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    setlocale(LC_ALL, "");
    RevertRequest request;
    RevertRun run;
    const int ended = ExitStatusOf(ReadCommandLine(argc, argv, &request, &run));
    if (ended >= 0) return ended;

    PrintLine(L"REVERT - " VERSION_BANNER);
    const DWORD privileges = EnableBackupPrivileges();
    LeaveWow64Views();
    wchar_t line[2 * JoinedPathCapacity];
    FormatText(line, ARRAYSIZE(line), L"Backup folder: %s", run.backupFolder);
    PrintLine(line);
    if (request.action == RevertAction::Show) return ShowBackup(&run, nullptr, false);
    if (request.action == RevertAction::Export) {
        return ExportKey(run.backupFolder, request.key, request.file);
    }
    if (request.action == RevertAction::Diff) {
        return DiffBackups(run.backupFolder, request.other,
                           request.keyGiven ? &request.key : nullptr);
    }

    if (request.action == RevertAction::Online) {
        if (privileges != ERROR_SUCCESS) {
            PrintError(privileges, L"(!) /online needs the backup and restore privileges");
            return ExitFailed;
        }
        if (!TakeSystemDrive(&run)) {
            PrintLine(L"(!) Unable to tell the drive Windows runs from");
            return ExitFailed;
        }
    }
    FormatText(line, ARRAYSIZE(line), L"Windows root: %s", run.targetRoot);
    PrintLine(line);
    const bool online = request.action == RevertAction::Online;
    if (request.dryRun) return ShowBackup(&run, run.targetRoot, online);
    return request.undo ? UndoRestore(&run, online) : RestoreBackup(&run, online);
}
