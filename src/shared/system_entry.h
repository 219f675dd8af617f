#pragma once
// Functions that the oldest supported Windows lacks are looked up at run
// time, so each program still starts there.
#include <windows.h>

// The export `name` of module, cast to its type; null when either is missing.
template <class Fn>
Fn LookUp(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// True for a 32-bit process on 64-bit Windows.
bool RunsUnderWow64();

// KEY_WOW64_64KEY for a 32-bit process on 64-bit Windows, else 0: a key
// opened with it is the real one, not the 32-bit view.
REGSAM NativeKeyView();
