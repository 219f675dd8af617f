#include "revert/command_line.h"

#include <wchar.h>

#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/folder_argument.h"

namespace {

void PrintUsage() {
    PrintLine(
        L"Syntax: revert.exe [backup_folder] [/offline:<windows_root>] [/online] [/undo] [/n]");
    PrintLine(L"backup_folder - the dated backup folder (default: the folder of this program)");
    PrintLine(L"without /offline or /online - show each hive, its check and where it goes");
    PrintLine(
        L"/offline:<windows_root> - restore onto a Windows that is not running (D: or a folder)");
    PrintLine(L"/online - restore onto the running Windows; a restart finishes the restore");
    PrintLine(L"/undo - put back the files the most recent restore kept");
    PrintLine(L"/n - with /offline or /online: show where each hive goes and change nothing");
}

CommandLineOutcome Refuse(DWORD code, const wchar_t* argument) {
    return RefuseArgument(code, argument, PrintUsage);
}

DWORD ProgramFolder(wchar_t* folder) {
    DWORD length = GetModuleFileNameW(nullptr, folder, JoinedPathCapacity);
    if (length == 0) return GetLastError();
    if (length >= JoinedPathCapacity) return ERROR_FILENAME_EXCED_RANGE;
    wchar_t* lastBackslash = wcsrchr(folder, L'\\');
    if (lastBackslash) *lastBackslash = L'\0';
    return ERROR_SUCCESS;
}

}  // namespace

CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, RevertRequest* request) {
    const wchar_t* folder = nullptr;
    const wchar_t* root = nullptr;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        const bool modeTaken = request->action != RevertAction::Show;
        if (wcscmp(argument, L"/?") == 0) {
            PrintUsage();
            return CommandLineOutcome::Help;
        } else if (argument[0] != L'/') {
            // Two folders would leave in doubt which backup goes back.
            if (folder || argument[0] == L'\0') return Refuse(ERROR_INVALID_PARAMETER, argument);
            folder = argument;
        } else if (wcsncmp(argument, L"/offline:", 9) == 0) {
            if (modeTaken || argument[9] == L'\0') return Refuse(ERROR_INVALID_PARAMETER, argument);
            request->action = RevertAction::Offline;
            root = argument + 9;
        } else if (wcscmp(argument, L"/online") == 0) {
            if (modeTaken) return Refuse(ERROR_INVALID_PARAMETER, argument);
            request->action = RevertAction::Online;
        } else if (wcscmp(argument, L"/undo") == 0) {
            request->undo = true;
        } else if (wcscmp(argument, L"/n") == 0) {
            request->dryRun = true;
        } else {
            return Refuse(ERROR_INVALID_PARAMETER, argument);
        }
    }
    if (request->undo && (request->action == RevertAction::Show || request->dryRun)) {
        return Refuse(ERROR_INVALID_PARAMETER, L"/undo");
    }
    if (request->dryRun && request->action == RevertAction::Show) {
        return Refuse(ERROR_INVALID_PARAMETER, L"/n");
    }

    DWORD error = folder ? MakeAbsoluteFolder(folder, BackupFolder) : ProgramFolder(BackupFolder);
    if (error != ERROR_SUCCESS) return Refuse(error, folder ? folder : L"backup_folder");
    if (root) {
        error = MakeAbsoluteFolder(root, TargetRoot);
        if (error != ERROR_SUCCESS) return Refuse(error, root);
    }
    return CommandLineOutcome::Run;
}
