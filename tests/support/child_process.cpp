#include "support/child_process.h"

#include <vector>

#include "shared/owned_handle.h"

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs) {
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
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
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

std::wstring ZelPath() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring self(path, length);
    return self.substr(0, self.find_last_of(L'\\') + 1) + L"zel.exe";
}

ProcessResult RunZelAt(const std::wstring& exePath, const std::wstring& arguments) {
    std::wstring line = L"\"" + exePath + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    return RunProcess(line);
}

ProcessResult RunZel(const std::wstring& arguments) { return RunZelAt(ZelPath(), arguments); }
