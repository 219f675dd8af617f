#include "support/child_process.h"

#include "shared/owned_handle.h"
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
void BcdEditStandIn::Release() { DeleteFileW((StandInFolder + L"\\hold").c_str()); }
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
