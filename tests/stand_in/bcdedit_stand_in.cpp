// Stands in for bcdedit.exe in the tests: appends its mark (the system
// folder it is meant for) to C:\zel-stand-in\ran.txt, then waits while
// C:\zel-stand-in\hold exists (at most a minute), so a test can stop zel
// while it waits for the tool.
#include <windows.h>

int wmain() {
    static const char Mark[] = STAND_IN_MARK "\r\n";
    HANDLE ran = CreateFileW(L"C:\\zel-stand-in\\ran.txt", FILE_APPEND_DATA, FILE_SHARE_READ,
                             nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(ran, Mark, sizeof(Mark) - 1, &written, nullptr);
    CloseHandle(ran);
    for (int waited = 0; waited < 600; ++waited) {
        if (GetFileAttributesW(L"C:\\zel-stand-in\\hold") == INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
    return 0;
}
