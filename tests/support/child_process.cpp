#include "support/child_process.h"

#include "shared/file_copy.h"
#include "shared/kept_files.h"
#include "shared/owned_handle.h"
#include "shared/platform.h"
#include "support/scratch.h"

namespace {

const std::wstring StandInFolder = L"C:\\zel-stand-in";
const wchar_t* const SystemFolders[] = {L"system32", L"syswow64"};

PROCESS_INFORMATION Start(const std::wstring& commandLine, STARTUPINFOW* startup, bool inherit,
                          const wchar_t* directory = nullptr) {
    startup->cb = sizeof(*startup);
    startup->dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    CreateProcessW(nullptr, &line[0], nullptr, nullptr, inherit, 0, nullptr, directory, startup,
                   &process);
    if (process.hThread) CloseHandle(process.hThread);
    return process;
}

}  // namespace

std::wstring BuiltProgram(const std::wstring& name) {
    wchar_t path[MAX_PATH * 4];
    std::wstring self(path, GetModuleFileNameW(nullptr, path, ARRAYSIZE(path)));
    return self.substr(0, self.find_last_of(L'\\') + 1) + name;
}

ProcessResult RunProgram(const std::wstring& exe, const std::wstring& arguments,
                         const wchar_t* directory) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    KernelHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return result;
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    FileHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.hStdInput = nul.get();
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    KernelHandle process(
        Start(L"\"" + exe + L"\" " + arguments, &startup, true, directory).hProcess);
    writeEnd.reset();  // the child holds the only write end now
    char buffer[4096];
    DWORD got = 0;
    while (process && ReadFile(readEnd.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        result.output.append(buffer, got);
    if (process && WaitForSingleObject(process.get(), 300000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 0xDEAD);
        WaitForSingleObject(process.get(), INFINITE);
    }
    if (process) GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

HANDLE StartZel(const std::wstring& arguments) {
    STARTUPINFOW startup{};
    return Start(L"\"" + BuiltProgram() + L"\" " + arguments, &startup, false).hProcess;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::wstring HostPath(const std::wstring& windowsPath) {
    using UnixFileNameFn = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(windowsPath.c_str()) : nullptr;
    const std::wstring copy = name ? Widen(name) : L"";
    HeapFree(GetProcessHeap(), 0, name);
    return copy;
}

void RunHostTool(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    HANDLE process = Start(commandLine, &startup, false).hProcess;
    // Wine hands out no handle to wait on for a host program; the caller's
    // checks find out whether it did its work.
    if (process) CloseHandle(process);
    Sleep(300);
}

BcdEditStandIn::BcdEditStandIn() {
    RemoveTree(StandInFolder);
    CreateDirectoryW(StandInFolder.c_str(), nullptr);
    for (const wchar_t* system : SystemFolders)
        CopyFileW(BuiltProgram(std::wstring(L"bcdedit_stand_in_") + system + L".exe").c_str(),
                  (WindowsDir() + L"\\" + system + L"\\bcdedit.exe").c_str(), FALSE);
}

BcdEditStandIn::~BcdEditStandIn() {
    for (const wchar_t* system : SystemFolders)
        DeleteFileW((WindowsDir() + L"\\" + system + L"\\bcdedit.exe").c_str());
    RemoveTree(StandInFolder);
}

void BcdEditStandIn::Hold() { WriteFileBytes(StandInFolder + L"\\hold", ""); }
std::string BcdEditStandIn::Ran() const { return ReadFileBytes(StandInFolder + L"\\ran.txt"); }
bool BcdEditStandIn::WaitUntilStarted() {
    for (int tries = 0; tries < 600 && Ran().empty(); ++tries) Sleep(50);
    return !Ran().empty();
}

bool KillZelMidway(const std::wstring& arguments) {
    BcdEditStandIn bcdedit;
    bcdedit.Hold();
    KernelHandle zel(StartZel(arguments));
    const bool held = bcdedit.WaitUntilStarted();
    TerminateProcess(zel.get(), 9);
    WaitForSingleObject(zel.get(), INFINITE);
    return held;
}

ServiceHandle OpenZelService(DWORD access) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return ServiceHandle(manager ? OpenServiceW(manager.get(), L"zel", access) : nullptr);
}

SERVICE_STATUS WaitForServiceState(const ServiceHandle& service, DWORD state) {
    SERVICE_STATUS status{};
    for (int tries = 0; tries < 600; ++tries) {
        if (!QueryServiceStatus(service.get(), &status) || status.dwCurrentState == state) break;
        Sleep(100);
    }
    return status;
}

ProcessResult RunInZone(const std::string& zone, const std::wstring& exe,
                        const std::vector<std::wstring>& arguments) {
    ScratchFolder scratch(L"zone");
    // Single quotes for sh; the Windows quoting around the script never sees one.
    std::wstring script = L"TZ=" + Widen(zone) + L" /usr/lib/wine/wine64 '" + exe + L"'";
    for (const std::wstring& argument : arguments) script += L" '" + argument + L"'";
    script += L" >'" + HostPath(scratch / L"out") + L"'; echo $? >'" + HostPath(scratch / L"rc") +
              L".part'; mv '" + HostPath(scratch / L"rc") + L".part' '" +
              HostPath(scratch / L"rc") + L"'";
    RunHostTool(L"Z:\\bin\\sh -c \"" + script + L"\"");
    for (int tries = 0; tries < 1200 && !FileExists(scratch / L"rc"); ++tries) Sleep(100);
    ProcessResult result;
    result.output = ReadFileBytes(scratch / L"out");
    const std::string code = ReadFileBytes(scratch / L"rc");
    if (!code.empty()) result.exitCode = static_cast<DWORD>(atoi(code.c_str()));
    return result;
}

namespace {

// "<step> <parent's process id>", and what the child test is to do.
const wchar_t HoldVariable[] = L"ZEL_CHILD_HOLD";
const wchar_t SettingVariable[] = L"ZEL_CHILD_SETTING";
int Steps = 0;
int HoldAt = 0;
HANDLE HeldEvent = nullptr;
HANDLE GoEvent = nullptr;

std::wstring EventName(const wchar_t* what, DWORD parent) {
    return L"zel-child-" + std::wstring(what) + L"-" + std::to_wstring(parent);
}

void Step() {
    if (++Steps != HoldAt) return;
    SetEvent(HeldEvent);
    WaitForSingleObject(GoEvent, INFINITE);
}
BOOL WINAPI CountedMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
    Step();
    return MoveFileExW(from, to, flags);
}
BOOL WINAPI CountedRead(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD got, LPOVERLAPPED over) {
    Step();
    return ReadFile(file, buffer, bytes, got, over);
}

std::wstring Variable(const wchar_t* name) {
    wchar_t value[4096];
    const DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return length < ARRAYSIZE(value) ? std::wstring(value, length) : L"";
}

}  // namespace

HeldChild::HeldChild(const char* test, int holdAt, const std::wstring& setting) {
    const DWORD self = GetCurrentProcessId();
    held.reset(CreateEventW(nullptr, TRUE, FALSE, EventName(L"held", self).c_str()));
    go.reset(CreateEventW(nullptr, TRUE, FALSE, EventName(L"go", self).c_str()));
    SetEnvironmentVariableW(HoldVariable,
                            (std::to_wstring(holdAt) + L" " + std::to_wstring(self)).c_str());
    SetEnvironmentVariableW(SettingVariable, setting.c_str());
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    STARTUPINFOW startup{};
    process.reset(
        Start(L"\"" + std::wstring(path) + L"\" " + Widen(test), &startup, false).hProcess);
    SetEnvironmentVariableW(HoldVariable, nullptr);
}

HeldChild::~HeldChild() {
    if (process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) Kill();
}

bool HeldChild::Held() {
    const HANDLE either[] = {held.get(), process.get()};
    return process && WaitForMultipleObjects(2, either, FALSE, 60000) == WAIT_OBJECT_0;
}

void HeldChild::Kill() {
    TerminateProcess(process.get(), 9);
    WaitForSingleObject(process.get(), INFINITE);
}

void HeldChild::Finish() {
    SetEvent(go.get());
    WaitForSingleObject(process.get(), 120000);
}

std::wstring ChildSetting() { return Variable(SettingVariable); }

void CountSteps() {
    const std::wstring hold = Variable(HoldVariable);
    const DWORD parent = static_cast<DWORD>(_wtoi(hold.substr(hold.find(L' ') + 1).c_str()));
    HoldAt = _wtoi(hold.c_str());
    HeldEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName(L"held", parent).c_str());
    GoEvent = OpenEventW(SYNCHRONIZE, FALSE, EventName(L"go", parent).c_str());
    Platform.moveFile = CountedMove;
    Platform.readFile = CountedRead;
}
