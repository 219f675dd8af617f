#pragma once
#include <windows.h>

#include "shared/owned_handle.h"

#include <string>
#include <vector>

struct ProcessResult {
    DWORD exitCode = 0xDEADBEEF;
    std::string output;  // the exact bytes written to standard output
};

// A program built beside the test programs, zel.exe by default.
std::wstring BuiltProgram(const std::wstring& name = L"zel.exe");

// Runs a program with the given argument text, standard output on a pipe,
// standard input on NUL, in `directory` when one is given; waits at most
// five minutes, then ends it.
ProcessResult RunProgram(const std::wstring& exe, const std::wstring& arguments, const wchar_t* directory = nullptr);
inline ProcessResult RunZel(const std::wstring& arguments, const wchar_t* directory = nullptr) {
    return RunProgram(BuiltProgram(), arguments, directory);
}
// Starts zel.exe with its output on NUL and does not wait: the process handle.
HANDLE StartZel(const std::wstring& arguments);

// The CR LF lines of an output; text after the last CR LF becomes a line
// of its own, so a missing line end shows.
std::vector<std::string> Lines(const std::string& output);

// Runs a program of the host (Linux) through Wine's Z: drive; HostPath gives
// the Unix path of a Windows path.
void RunHostTool(const std::wstring& commandLine);
std::wstring HostPath(const std::wstring& windowsPath);

// bcdedit.exe in the system folders (system32 and, for 32-bit programs,
// syswow64) replaced by stand-ins that record that they ran (the folder's
// name, a line each time) and then wait while held.
class BcdEditStandIn {
public:
    BcdEditStandIn();
    ~BcdEditStandIn();
    void Hold();
    void Release();
    bool WaitUntilStarted();  // true once it has run (and is held, when held)
    std::string Ran() const;  // the lines it recorded
};

// A zel run with `arguments` that dies midway: it is ended while it waits
// for a held bcdedit.exe, after its first purge. False when it never got there.
bool KillZelMidway(const std::wstring& arguments);

// The service "zel", and its state once it reaches `state` (within a minute).
ServiceHandle OpenZelService(DWORD access);
SERVICE_STATUS WaitForServiceState(const ServiceHandle& service, DWORD state);
