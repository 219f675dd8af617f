#include "revert/live_hive.h"

#include "hive/hive_check.h"
#include "hive/log_replay.h"
#include "revert/run_state.h"
#include "shared/console.h"
#include "shared/file_copy.h"
#include "shared/hive_logs.h"
#include "shared/kept_files.h"
#include "shared/platform.h"
#include "shared/system_entry.h"

namespace {

// Platform.regReplaceKey on the hive's root (the key itself, so no 32-bit view
// can get in between), with one line for the outcome.
bool Schedule(HKEY key, const wchar_t* newFile, const wchar_t* oldFile, const wchar_t* done,
              const wchar_t* label) {
    wchar_t line[3 * JoinedPathCapacity];
    const LSTATUS status = Platform.regReplaceKey(key, nullptr, newFile, oldFile);
    if (status != ERROR_SUCCESS) {
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to schedule %s for the next restart", label);
        PrintError(static_cast<DWORD>(status), line);
        return false;
    }
    FormatText(line, ARRAYSIZE(line), L"%s %s at the next restart", label, done);
    PrintLine(line);
    return true;
}

}  // namespace

bool OpenLoadedHive(const BackupHive* hive, KeyHandle* key) {
    return RegOpenKeyExW(hive->keyRoot, hive->keyPath, 0, KEY_READ | NativeKeyView(), key->put()) ==
           ERROR_SUCCESS;
}

bool ScheduleReplace(const BackupHive* hive, HKEY key, const wchar_t* stamp) {
    wchar_t line[2 * JoinedPathCapacity];
    // The live logs stay with the live file. A dirty hive goes as the image
    // its logs recover, a clean file onto which Windows replays no log.
    LogReplay replay;
    DWORD error = hive->dirty ? ReplayHiveLogs(hive->source, &replay) : ERROR_SUCCESS;
    if (error == ERROR_SUCCESS && hive->dirty && !replay.recovered) {
        // Windows would load it as it is, but here beside the live logs,
        // which it could replay onto it. Offline, they are kept aside.
        FormatText(line, ARRAYSIZE(line),
                   L"(!) %s is loaded and its backup is dirty without usable logs (%s): restore "
                   L"it offline",
                   hive->label, replay.stopped);
        PrintLine(line);
        return false;
    }
    wchar_t oldFile[JoinedPathCapacity];
    wchar_t newFile[JoinedPathCapacity];
    if (!KeptName(oldFile, hive->destination, L"", RevertTag, stamp) ||
        !AddSuffix(newFile, oldFile, L".new")) {
        PrintError(ERROR_FILENAME_EXCED_RANGE, hive->destination);
        return false;
    }
    if (error == ERROR_SUCCESS) {
        error = replay.recovered ? WriteRecoveredImage(replay, hive->source, newFile)
                                 : CopyFileBytes(hive->source, newFile);
    }
    // The bytes may have changed since they were checked; what goes in must
    // be whole and clean.
    HiveCheckResult check{};
    if (error == ERROR_SUCCESS) error = CheckHiveFile(newFile, &check);
    if (error == ERROR_SUCCESS && (!check.passed || check.dirty)) error = ERROR_FILE_CORRUPT;
    if (error != ERROR_SUCCESS) {
        DeleteFileW(newFile);
        FormatText(line, ARRAYSIZE(line), L"(!) Unable to copy %s to %s", hive->label, newFile);
        PrintError(error, line);
        return false;
    }
    FormatText(line, ARRAYSIZE(line), L"is restored to %s", hive->destination);
    if (Schedule(key, newFile, oldFile, line, hive->label)) return true;
    DeleteFileW(newFile);
    return false;
}

bool ScheduleUndo(const BackupHive* hive, HKEY key, const wchar_t* keptStamp,
                  const wchar_t* stamp) {
    wchar_t kept[JoinedPathCapacity];
    wchar_t oldFile[JoinedPathCapacity];
    wchar_t line[2 * JoinedPathCapacity];
    // Kept logs belong to a file that was replaced while not loaded; they
    // can only go back with it, offline.
    for (const wchar_t* suffix : HiveLogSuffixes) {
        if (KeptName(kept, hive->destination, suffix, RevertTag, keptStamp) && IsFile(kept)) {
            FormatText(line, ARRAYSIZE(line),
                       L"(!) %s is loaded and its logs were kept too: put it back offline",
                       hive->label);
            PrintLine(line);
            return false;
        }
    }
    if (!KeptName(kept, hive->destination, L"", RevertTag, keptStamp) ||
        !KeptName(oldFile, hive->destination, L"", RevertTag, stamp)) {
        PrintError(ERROR_FILENAME_EXCED_RANGE, hive->destination);
        return false;
    }
    FormatText(line, ARRAYSIZE(line), L"is put back from %s", kept);
    return Schedule(key, kept, oldFile, line, hive->label);
}
