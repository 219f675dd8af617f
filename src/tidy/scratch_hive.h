#pragma once
// A hive file of an installation that is not running, loaded for a moment
// under a key of HKEY_LOCAL_MACHINE whose name is this run's own.
#include <windows.h>

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
