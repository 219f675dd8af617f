#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "shared/owned_handle.h"

struct ProcessResult {
    DWORD exitCode = 0xDEADBEEF;
    std::string output;  // the exact bytes written to standard output
};

// A program built beside the test programs, zel.exe by default.
std::wstring BuiltProgram(const std::wstring& name = L"zel.exe");
// Runs a program, standard output on a pipe, standard input on NUL, in
// `directory` when one is given; ends it after five minutes.
ProcessResult RunProgram(const std::wstring& exe, const std::wstring& arguments,
                         const wchar_t* directory = nullptr);
inline ProcessResult RunZel(const std::wstring& arguments, const wchar_t* directory = nullptr) {
    return RunProgram(BuiltProgram(), arguments, directory);
}
HANDLE StartZel(const std::wstring& arguments);  // output on NUL; does not wait
// The CR LF lines of an output; text after the last CR LF becomes a line of
// its own, so a missing line end shows.
std::vector<std::string> Lines(const std::string& output);

// A program run with its clock in another time zone (a POSIX TZ such as
// "UTC-10"), as a recovery prompt with its own clock runs: Wine takes the
// zone from its Unix process, so the run goes through the host's sh.
ProcessResult RunInZone(const std::string& zone, const std::wstring& exe,
                        const std::vector<std::wstring>& arguments);

// A "Child..." test of this program run in a process of its own, whose file
// moves and reads (Platform.moveFile, Platform.readFile) are counted as steps: before
// step `holdAt` it stops, so the scene can kill it right there (a real kill of
// a real process) or change something and let it go on. `setting` reaches it
// through ChildSetting().
struct HeldChild {
    HeldChild(const char* test, int holdAt, const std::wstring& setting);
    ~HeldChild();   // ends it when it is still there
    bool Held();    // true once it stops at the step; false when it ended first
    void Kill();    // a real kill, at the step
    void Finish();  // lets it go on to its end
    KernelHandle process, held, go;
};
std::wstring ChildSetting();
void CountSteps();  // in the child: counts from here on, and stops where it was asked

// A program of the host (Linux) run through Wine's Z: drive, and the Unix
// path of a Windows path.
void RunHostTool(const std::wstring& commandLine);
std::wstring HostPath(const std::wstring& windowsPath);

// bcdedit.exe in both system folders replaced by stand-ins that record that
// they ran (the folder's name, a line each time) and then wait while held.
struct BcdEditStandIn {
    BcdEditStandIn();
    ~BcdEditStandIn();
    void Hold();
    bool WaitUntilStarted();  // true once one has run
    std::string Ran() const;  // the lines they recorded
};
// A zel run that dies midway: ended while it waits for a held bcdedit.exe,
// after its first purge. False when it never got there.
bool KillZelMidway(const std::wstring& arguments);

// The service "zel", and its state once it reaches `state` (within a minute).
ServiceHandle OpenZelService(DWORD access);
SERVICE_STATUS WaitForServiceState(const ServiceHandle& service, DWORD state);
