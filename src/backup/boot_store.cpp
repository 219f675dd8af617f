#include "backup/boot_store.h"

#include <strsafe.h>
#include <wchar.h>

#include <memory>
#include <new>

#include "backup/machine_hive.h"
#include "shared/console.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"

namespace {

constexpr wchar_t HiveListKey[] = L"SYSTEM\\CurrentControlSet\\Control\\hivelist";
constexpr DWORD HiveNameCapacity = 2048;  // characters
constexpr DWORD HiveDataBytes = 4096;

// The tool's console is its own, and the start-up record hides it.
constexpr DWORD BcdEditCreationFlags = CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS;

// How long the pass waits for bcdedit.exe before it stops the tool.
constexpr DWORD BcdEditWaitMs = 120000;

// An upper-cased \DEVICE\HARDDISKVOLUME... path becomes \\?\HARDDISKVOLUME...;
// any other path stays as it is.
void RewriteVolumeDevicePath(wchar_t* path) {
    static constexpr wchar_t Rest[] = L"VICE\\HARDDISKVOLUME";
    if (path[0] != L'\\' || path[1] != L'D' || path[2] != L'E') return;
    if (wcsncmp(path + 3, Rest, ARRAYSIZE(Rest) - 1) != 0) return;
    // "\DEVICE" (7 characters) becomes "\\?" (3): the text moves 4 to the left.
    size_t length = wcslen(path);
    wmemmove(path + 3, path + 7, length - 7 + 1);
    path[0] = L'\\';
    path[1] = L'\\';
    path[2] = L'?';
}

}  // namespace

void RunBcdEdit(const wchar_t* applicationPath) {
    static constexpr wchar_t Argument[] = L"/enum";
    wchar_t commandLine[SystemTextCapacity];
    size_t pathLength = 0;
    // Quotes, blank, argument and terminator must fit with the path; a cut
    // command line would start something else.
    if (FAILED(StringCchLengthW(applicationPath, ARRAYSIZE(commandLine), &pathLength)) ||
        pathLength + 3 + ARRAYSIZE(Argument) > ARRAYSIZE(commandLine)) {
        return;
    }
    // A tool that is not there is not started: the attempt costs a process
    // creation's worth of work and changes nothing.
    if (GetFileAttributesW(applicationPath) == INVALID_FILE_ATTRIBUTES) return;
    FormatText(commandLine, ARRAYSIZE(commandLine), L"\"%s\" ", applicationPath);
    StringCchCatW(commandLine, ARRAYSIZE(commandLine), Argument);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(applicationPath, commandLine, nullptr, nullptr, FALSE, BcdEditCreationFlags,
                        nullptr, nullptr, &startup, &started)) {
        return;
    }
    // Declared in this order, the thread handle is closed before the process's.
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);

    WaitForToolEnd(process.get(), BcdEditWaitMs);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
}

bool WaitForToolEnd(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) return true;
    // A tool that hangs must not hold the backup up for ever.
    TerminateProcess(process, ERROR_TIMEOUT);
    WaitForSingleObject(process, 5000);
    return false;
}

bool FindBcdHive(wchar_t* keyName, wchar_t* filePath) {
    std::unique_ptr<wchar_t[]> name(new (std::nothrow) wchar_t[HiveNameCapacity]);
    // One character more than the data capacity, for a terminator after the
    // bytes returned when the value carries none of its own.
    std::unique_ptr<wchar_t[]> data(new (std::nothrow) wchar_t[HiveDataBytes / 2 + 1]);
    if (!name || !data) return false;

    KeyHandle list;
    if (OpenMachineKey(HiveListKey, list.put()) != ERROR_SUCCESS) return false;

    for (DWORD index = 0;; ++index) {
        DWORD nameLength = HiveNameCapacity;
        DWORD dataBytes = HiveDataBytes;
        DWORD type = REG_NONE;
        LSTATUS status = RegEnumValueW(list.get(), index, name.get(), &nameLength, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.get()), &dataBytes);
        if (status != ERROR_SUCCESS) return false;
        if (nameLength == 0 || type != REG_SZ) continue;
        data[dataBytes / 2] = L'\0';

        UpperCaseInPlace(name.get());
        const wchar_t* match = wcsstr(name.get(), L"\\BCD0");
        if (!match) continue;

        UpperCaseInPlace(data.get());
        RewriteVolumeDevicePath(data.get());
        // Both results must fit before either is written.
        size_t length = 0;
        if (FAILED(StringCchLengthW(match + 1, SystemTextCapacity, &length)) ||
            FAILED(StringCchLengthW(data.get(), SystemTextCapacity, &length))) {
            return false;
        }
        StringCchCopyW(keyName, SystemTextCapacity, match + 1);
        StringCchCopyW(filePath, SystemTextCapacity, data.get());
        return true;
    }
}
