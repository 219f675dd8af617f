#pragma once
// A run names each step as it begins, so that bench/phase_driver can time
// the run's own steps; in zel nothing listens.
#include <windows.h>

using RunStepFn = void (*)(const wchar_t* step);
extern RunStepFn RunStepEntry;

inline void BeginRunStep(const wchar_t* step) {
    if (RunStepEntry) RunStepEntry(step);
}
