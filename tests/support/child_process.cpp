#include "support/child_process.h"

#include "shared/owned_handle.h"
#include "support/scratch.h"

ProcessResult RunProcess(const std::wstring& commandLine, const wchar_t* directory,
                         DWORD timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    KernelHandle readEnd;
    KernelHandle writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return result;
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    FileHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, directory,
                        &startup, &process)) {
        return result;
    }
    result.started = true;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    writeEnd.reset();  // the child holds the only write end now

    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        result.output.append(buffer, got);
    }
    if (WaitForSingleObject(processHandle.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.get(), 0xDEAD);
        WaitForSingleObject(processHandle.get(), INFINITE);
    }
    GetExitCodeProcess(processHandle.get(), &result.exitCode);
    return result;
}

HANDLE StartProcess(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

std::wstring BuiltProgram(const std::wstring& name) {
    wchar_t path[MAX_PATH * 4];
    std::wstring self(path, GetModuleFileNameW(nullptr, path, ARRAYSIZE(path)));
    return self.substr(0, self.find_last_of(L'\\') + 1) + name;
}

ProcessResult RunProgram(const std::wstring& exePath, const std::wstring& arguments,
                         const wchar_t* directory) {
    std::wstring line = L"\"" + exePath + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    return RunProcess(line, directory);
}

ProcessResult RunZel(const std::wstring& arguments, const wchar_t* directory) {
    return RunProgram(BuiltProgram(), arguments, directory);
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
    if (!name) return std::wstring();
    std::wstring copy = Widen(name);
    HeapFree(GetProcessHeap(), 0, name);
    return copy;
}

bool RunHostTool(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    // Wine hands out no handle to wait on for a host program.
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    Sleep(300);
    return true;
}

BcdEditStandIn::BcdEditStandIn() {
    RemoveTree(Folder);
    CreateDirectoryW(Folder, nullptr);
    for (const wchar_t* system : {L"system32", L"syswow64"}) {
        installed_.push_back(WindowsDir() + L"\\" + system + L"\\bcdedit.exe");
        CopyFileW(BuiltProgram(std::wstring(L"bcdedit_stand_in_") + system + L".exe").c_str(),
                  installed_.back().c_str(), FALSE);
    }
}

BcdEditStandIn::~BcdEditStandIn() {
    Release();
    for (const std::wstring& path : installed_) DeleteFileW(path.c_str());
    RemoveTree(Folder);
}

void BcdEditStandIn::Hold() { WriteFileBytes(std::wstring(Folder) + L"\\hold", ""); }
void BcdEditStandIn::Release() { DeleteFileW((std::wstring(Folder) + L"\\hold").c_str()); }

bool BcdEditStandIn::WaitUntilStarted() {
    for (int tries = 0; tries < 600; ++tries) {
        if (!Ran().empty()) return true;
        Sleep(50);
    }
    return false;
}

std::string BcdEditStandIn::Ran() const { return ReadFileBytes(std::wstring(Folder) + L"\\ran.txt"); }
