#pragma once
#include <windows.h>

// True when the running system is at least major.minor with service pack sp.
bool IsOsVersion(WORD major, WORD minor, WORD servicePackMajor);

// Probes majors 5..19, minors 0..6 and service packs 0..5; the last probe that
// holds wins, so the result is the highest grid point not above the system.
void DetectOsVersion(DWORD* major, DWORD* minor, WORD* servicePackMajor);
