// For the "with user32 and shlwapi" baselines: calls one function from each
// of the two system DLLs that zel.exe imports (LoadStringW for its string
// table, PathAppendW for its joins), so that loading them is part of the
// baseline's cost. Without BENCH_LOAD_SHELL_DLLS it does nothing and the
// program imports neither DLL.
#pragma once

#include <windows.h>

#ifdef BENCH_LOAD_SHELL_DLLS
#include <shlwapi.h>

inline void LoadShellDlls() {
    wchar_t path[MAX_PATH] = L"C:\\";
    PathAppendW(path, L"x");
    wchar_t text[2];
    LoadStringW(GetModuleHandleW(nullptr), 1, text, ARRAYSIZE(text));
}
#else
inline void LoadShellDlls() {}
#endif
