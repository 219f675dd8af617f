#include "msi_actions/captured_run.h"

#include "shared/owned_handle.h"

namespace {

// More than zel prints for an install; the rest is read and dropped so that
// the program never waits on a full pipe.
constexpr DWORD OutputBytes = 8192;

}  // namespace

DWORD RunCaptured(wchar_t* commandLine, wchar_t* output, size_t capacity, DWORD* exitStatus) {
    if (capacity == 0) return ERROR_INSUFFICIENT_BUFFER;
    output[0] = L'\0';

    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    KernelHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) return GetLastError();
    if (!SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) return GetLastError();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &started)) {
        return GetLastError();
    }
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);
    writeEnd.reset();  // the program holds the only write end now

    char bytes[OutputBytes];
    char dropped[512];
    DWORD kept = 0;
    for (;;) {
        const bool room = kept < sizeof(bytes);
        DWORD got = 0;
        if (!ReadFile(readEnd.get(), room ? bytes + kept : dropped,
                      room ? sizeof(bytes) - kept : sizeof(dropped), &got, nullptr) ||
            got == 0) {
            break;
        }
        if (room) kept += got;
    }
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return GetLastError();
    if (!GetExitCodeProcess(process.get(), exitStatus)) return GetLastError();

    // A byte gives at most one character, so this many always fit.
    if (kept > capacity - 1) kept = static_cast<DWORD>(capacity - 1);
    int written = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(kept), output,
                                      static_cast<int>(kept));
    output[written > 0 ? written : 0] = L'\0';
    return ERROR_SUCCESS;
}
