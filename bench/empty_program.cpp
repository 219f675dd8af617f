// Does nothing: what starting a program linked as zel.exe costs. Built a
// second time with BENCH_LOAD_SHELL_DLLS, it also loads user32 and shlwapi.
#include "shell_dlls.h"

int wmain() {
    LoadShellDlls();
    return 0;
}
