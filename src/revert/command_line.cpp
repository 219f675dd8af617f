#include "revert/command_line.h"

#include <wchar.h>

#include "revert/hive_choice.h"
#include "revert/hive_place.h"
#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/folder_argument.h"

namespace {

void PrintUsage() {
    PrintLine(
        L"Syntax: revert.exe [backup_folder] [/offline:<windows_root>] [/online] [/undo] [/n]");
    PrintLine(L"        [/only:<names>]");
    PrintLine(L"        revert.exe [backup_folder] /export:<key> /to:<file>");
    PrintLine(L"        revert.exe [backup_folder] /diff:<other_backup_folder> [/key:<key>]");
    PrintLine(L"backup_folder - the dated backup folder (default: the folder of this program)");
    PrintLine(L"without /offline or /online - show each hive, its check and where it goes");
    PrintLine(
        L"/offline:<windows_root> - restore onto a Windows that is not running (D: or a folder)");
    PrintLine(L"/online - restore onto the running Windows; a restart finishes the restore");
    PrintLine(L"/undo - put back the files the most recent restore kept");
    PrintLine(L"/n - with /offline or /online: show where each hive goes and change nothing");
    PrintLine(L"/only:<names> - only these hives, by commas: BCD, SYSTEM, SOFTWARE, DEFAULT, SAM,");
    PrintLine(L"    SECURITY, DRIVERS, COMPONENTS, machine (all of them), users (every profile),");
    PrintLine(L"    or a profile's SID (its NTUSER.DAT and UsrClass.dat); a broken SOFTWARE in");
    PrintLine(L"    the recovery environment: revert_x64.exe /offline:D: /only:SOFTWARE");
    PrintLine(
        L"/export:<key> /to:<file> - write a key of the backup as a .reg file for reg import");
    PrintLine(L"/diff:<other_backup_folder> - list what changed from that backup to this one");
    PrintLine(L"/key:<key> - with /diff, compare only that key");
    PrintLine(L"<key> - as the running system names it: HKLM\\SOFTWARE\\..., HKU\\<SID>\\...");
}

CommandLineOutcome Refuse(DWORD code, const wchar_t* argument) {
    return RefuseArgument(code, argument, PrintUsage);
}

CommandLineOutcome RefuseBecause(const wchar_t* argument, const wchar_t* why) {
    wchar_t line[JoinedPathCapacity + 160];
    FormatText(line, ARRAYSIZE(line), L"(!) %s: %s", argument, why);
    PrintLine(line);
    PrintUsage();
    return CommandLineOutcome::Refused;
}

// /export's file, absolute, in a folder that is not the backup folder nor
// below it, however the path reaches it; /diff's folder, another existing
// one.
CommandLineOutcome ReadKeyAction(const wchar_t* folder, const wchar_t* to, const wchar_t* other,
                                 RevertRequest* request) {
    FileIdentity backup;
    DWORD error = IdentifyPath(folder, &backup);
    if (error != ERROR_SUCCESS) return Refuse(error, folder);
    wchar_t argument[JoinedPathCapacity + 8];
    if (request->action == RevertAction::Export) {
        FormatText(argument, ARRAYSIZE(argument), L"/to:%s", to);
        const DWORD length = GetFullPathNameW(to, JoinedPathCapacity, request->file, nullptr);
        if (length == 0 || length >= JoinedPathCapacity) {
            return Refuse(length ? ERROR_FILENAME_EXCED_RANGE : GetLastError(), argument);
        }
        wchar_t folder[JoinedPathCapacity];
        wchar_t reason[ReasonCapacity];
        CopyWhole(folder, ARRAYSIZE(folder), request->file);
        *wcsrchr(folder, L'\\') = L'\0';
        error = CheckOutsideBackup(folder, backup, reason);
        if (error == ERROR_BAD_PATHNAME) {
            return RefuseBecause(argument,
                                 L"the file would lie in the backup folder, which must not change");
        }
        return error == ERROR_SUCCESS ? CommandLineOutcome::Run : Refuse(error, argument);
    }
    FormatText(argument, ARRAYSIZE(argument), L"/diff:%s", other);
    FileIdentity id;
    error = MakeAbsoluteFolder(other, request->other);
    if (error == ERROR_SUCCESS) error = IdentifyPath(request->other, &id);
    if (error == ERROR_SUCCESS &&
        !(GetFileAttributesW(request->other) & FILE_ATTRIBUTE_DIRECTORY)) {
        error = ERROR_DIRECTORY;
    }
    if (error != ERROR_SUCCESS) return Refuse(error, argument);
    if (SameIdentity(id, backup))
        return RefuseBecause(argument, L"that is the backup folder itself");
    return CommandLineOutcome::Run;
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

CommandLineOutcome ReadCommandLine(int argc, wchar_t** argv, RevertRequest* request,
                                   RevertRun* run) {
    const wchar_t* folder = nullptr;
    const wchar_t* root = nullptr;
    const wchar_t* key = nullptr;  // of /export: or /key:
    const wchar_t* to = nullptr;
    const wchar_t* other = nullptr;
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
        } else if (wcsncmp(argument, L"/only:", 6) == 0) {
            if (request->only || argument[6] == L'\0') {
                return Refuse(ERROR_INVALID_PARAMETER, argument);
            }
            request->only = argument + 6;
        } else if (wcsncmp(argument, L"/export:", 8) == 0) {
            if (modeTaken || key || argument[8] == L'\0') {
                return Refuse(ERROR_INVALID_PARAMETER, argument);
            }
            request->action = RevertAction::Export;
            key = argument + 8;
        } else if (wcsncmp(argument, L"/diff:", 6) == 0) {
            if (modeTaken || argument[6] == L'\0') return Refuse(ERROR_INVALID_PARAMETER, argument);
            request->action = RevertAction::Diff;
            other = argument + 6;
        } else if (wcsncmp(argument, L"/to:", 4) == 0) {
            if (to || argument[4] == L'\0') return Refuse(ERROR_INVALID_PARAMETER, argument);
            to = argument + 4;
        } else if (wcsncmp(argument, L"/key:", 5) == 0) {
            if (key || argument[5] == L'\0') return Refuse(ERROR_INVALID_PARAMETER, argument);
            key = argument + 5;
            request->keyGiven = true;
        } else {
            return Refuse(ERROR_INVALID_PARAMETER, argument);
        }
    }
    const bool exporting = request->action == RevertAction::Export;
    const bool restoring =
        request->action == RevertAction::Offline || request->action == RevertAction::Online;
    if (request->undo && (!restoring || request->dryRun)) {
        return Refuse(ERROR_INVALID_PARAMETER, L"/undo");
    }
    if (request->dryRun && !restoring) return Refuse(ERROR_INVALID_PARAMETER, L"/n");
    // An undo takes back the last restore as it was made, whole or chosen.
    if (request->only && (request->undo || !(restoring || request->action == RevertAction::Show))) {
        return RefuseBecause(L"/only", request->undo
                                           ? L"/undo takes back what the last restore chose"
                                           : L"only with the listing, /offline: or /online");
    }
    if (exporting ? !to : to != nullptr) return Refuse(ERROR_INVALID_PARAMETER, L"/to:");
    if (request->keyGiven && request->action != RevertAction::Diff) {
        return Refuse(ERROR_INVALID_PARAMETER, L"/key:");
    }
    if (key && ReadKeyPath(key, &request->key) != ERROR_SUCCESS) {
        return RefuseBecause(key,
                             L"names no hive of a backup; give HKLM\\SOFTWARE\\..., "
                             L"HKLM\\SYSTEM\\..., HKU\\<SID>\\... or the like");
    }

    DWORD error =
        folder ? MakeAbsoluteFolder(folder, run->backupFolder) : ProgramFolder(run->backupFolder);
    if (error != ERROR_SUCCESS) return Refuse(error, folder ? folder : L"backup_folder");
    if (root) {
        error = MakeAbsoluteFolder(root, run->targetRoot);
        if (error != ERROR_SUCCESS) return Refuse(error, root);
    }
    if (exporting || other) return ReadKeyAction(run->backupFolder, to, other, request);
    FindBackupHives(run->backupFolder, BootStore::Apart, &run->hives);
    if (request->only && !ChooseHives(request->only, run->backupFolder, &run->hives)) {
        return CommandLineOutcome::Refused;
    }
    return CommandLineOutcome::Run;
}
