#pragma once
#include <windows.h>

// The highest point of the grid of majors 5..19, minors 0..6 and service
// packs 0..5 that is not above the running system; the outputs stay as they
// are when the system is older than 5.0.
void DetectOsVersion(DWORD* major, DWORD* minor, WORD* servicePackMajor);
