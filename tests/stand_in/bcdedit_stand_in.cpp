// Stands in for bcdedit.exe in the tests: appends its own path to
// C:\zel-stand-in\ran.txt, then waits while C:\zel-stand-in\hold exists (at
// most a minute), so a test can stop zel while it waits for the tool.
#include <windows.h>

int wmain() {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    char line[MAX_PATH * 2 + 2];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, self, static_cast<int>(length), line, MAX_PATH * 2,
                                    nullptr, nullptr);
    line[bytes++] = '\r';
    line[bytes++] = '\n';
    HANDLE ran = CreateFileW(L"C:\\zel-stand-in\\ran.txt", FILE_APPEND_DATA, FILE_SHARE_READ,
                             nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(ran, line, bytes, &written, nullptr);
    CloseHandle(ran);
    for (int waited = 0; waited < 600; ++waited) {
        if (GetFileAttributesW(L"C:\\zel-stand-in\\hold") == INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
    return 0;
}
