#pragma once
// A hive file of an installation that is not running, loaded for a moment
// under a key of HKEY_LOCAL_MACHINE whose name is this run's own.
#include <windows.h>

#include "tidy/run_state.h"

class ScratchHive {
 public:
    // Names the key TIDY-<process id in eight hex digits>. The width is
    // fixed because Wine writes the key's name into the hives it saves, and
    // /n should show the size a real run gets.
    ScratchHive();
    ~ScratchHive() { Unload(); }
    ScratchHive(const ScratchHive&) = delete;
    ScratchHive& operator=(const ScratchHive&) = delete;

    // RegLoadKeyW's status. Even a load that fails may leave a key behind
    // (Wine leaves an empty one), so from here on the key is unloaded.
    DWORD Load(const wchar_t* hiveFile);

    // Unloads the key, once; the handles opened under it must be closed
    // first. ERROR_SUCCESS too when nothing was left to unload.
    DWORD Unload();

    const wchar_t* name() const { return name_; }

 private:
    wchar_t name_[32];
    bool pending_ = false;
    bool loaded_ = false;
};

// Unloads every HKLM\TIDY-<process id> key whose run no longer lives: an
// offline run that was killed leaves its scratch key loaded, and with it the
// hive file it holds open. A key of a run that still lives is left alone.
// Each one unloaded gets a line; one that cannot be is a failure of the run.
void UnloadStaleScratchKeys(TidyRun* run);
