#pragma once
#include <windows.h>

// True when the running system is at least major.minor with service pack sp.
bool IsOsVersion(WORD major, WORD minor, WORD servicePackMajor);

// The highest point of the grid of majors 5..19, minors 0..6 and service
// packs 0..5 that is not above the running system; the outputs stay as they
// are when the system is older than 5.0.
void DetectOsVersion(DWORD* major, DWORD* minor, WORD* servicePackMajor);
