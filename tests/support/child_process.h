#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct ProcessResult {
    bool started = false;
    DWORD exitCode = 0xDEADBEEF;
    std::string output;  // the exact bytes written to standard output
};

// Runs a whole command line (program included) with standard output on a
// pipe, standard input on NUL and standard error inherited, in `directory`
// when one is given. Waits at most timeoutMs, then ends the child.
ProcessResult RunProcess(const std::wstring& commandLine, const wchar_t* directory = nullptr,
                         DWORD timeoutMs = 300000);

// Starts a command line with its output on NUL and does not wait; the
// process handle, or null.
HANDLE StartProcess(const std::wstring& commandLine);

// A program built beside the test programs, zel.exe by default.
std::wstring BuiltProgram(const std::wstring& name = L"zel.exe");

// Runs zel.exe (or another program) with the given argument text.
ProcessResult RunZel(const std::wstring& arguments, const wchar_t* directory = nullptr);
ProcessResult RunProgram(const std::wstring& exePath, const std::wstring& arguments,
                         const wchar_t* directory = nullptr);

// The CR LF lines of an output; text after the last CR LF becomes a line
// of its own, so a missing line end shows.
std::vector<std::string> Lines(const std::string& output);

// Runs a program of the host (Linux) through Wine's Z: drive, with a Unix
// path of a Windows path where needed (HostPath), and waits for it.
bool RunHostTool(const std::wstring& commandLine);
std::wstring HostPath(const std::wstring& windowsPath);

// bcdedit.exe in the system folders (system32 and, for 32-bit programs,
// syswow64) replaced by stand-ins that record that they ran (the folder's
// name, a line each time) and then wait while held.
class BcdEditStandIn {
public:
    BcdEditStandIn();
    ~BcdEditStandIn();
    BcdEditStandIn(const BcdEditStandIn&) = delete;
    BcdEditStandIn& operator=(const BcdEditStandIn&) = delete;
    void Hold();
    void Release();
    bool WaitUntilStarted();  // true once it has run (and is held, when held)
    std::string Ran() const;  // the lines it recorded

    // The stand-in's own folder of markers, as the stand-in names it.
    static constexpr const wchar_t* Folder = L"C:\\zel-stand-in";

private:
    std::vector<std::wstring> installed_;
};
