#include "backup/boot_store.h"

#include <strsafe.h>
#include <wchar.h>

#include <memory>
#include <new>

#include "backup/machine_hive.h"
#include "shared/console.h"
#include "shared/hive_list.h"
#include "shared/owned_handle.h"
#include "shared/path_join.h"

namespace {

// The tool's console is its own, and the start-up record hides it.
constexpr DWORD BcdEditCreationFlags = CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS;

// How long the pass waits for bcdedit.exe before it stops the tool.
constexpr DWORD BcdEditWaitMs = 120000;

// Waits at most timeoutMs for process to end; a process still running then is
// terminated. True when it ended within the time.
bool WaitForToolEnd(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) return true;
    // A tool that hangs must not hold the backup up for ever.
    TerminateProcess(process, ERROR_TIMEOUT);
    WaitForSingleObject(process, 5000);
    return false;
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

bool FindBcdHive(wchar_t* keyName, wchar_t* filePath) {
    struct Entry {
        wchar_t name[HiveListNameCapacity];
        wchar_t device[DevicePathCapacity];
    };
    std::unique_ptr<Entry> entry(new (std::nothrow) Entry);
    if (!entry) return false;
    wchar_t* const name = entry->name;
    wchar_t* const data = entry->device;

    KeyHandle list;
    if (OpenMachineKey(HiveListKey, list.put()) != ERROR_SUCCESS) return false;

    for (DWORD index = 0;; ++index) {
        bool text = false;
        if (ReadHiveListEntry(list.get(), index, entry->name, entry->device, &text) !=
            ERROR_SUCCESS) {
            return false;
        }
        if (name[0] == L'\0' || !text) continue;

        UpperCaseInPlace(name);
        const wchar_t* match = wcsstr(name, L"\\BCD0");
        if (!match) continue;

        UpperCaseInPlace(data);
        RewriteVolumeDevicePath(data);
        // Both results must fit before either is written.
        size_t length = 0;
        if (FAILED(StringCchLengthW(match + 1, SystemTextCapacity, &length)) ||
            FAILED(StringCchLengthW(data, SystemTextCapacity, &length))) {
            return false;
        }
        StringCchCopyW(keyName, SystemTextCapacity, match + 1);
        StringCchCopyW(filePath, SystemTextCapacity, data);
        return true;
    }
}
