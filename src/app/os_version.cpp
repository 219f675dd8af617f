#include "app/os_version.h"

namespace {

// True when the running system is at least major.minor with service pack sp.
bool IsOsVersion(WORD major, WORD minor, WORD servicePackMajor) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wServicePackMajor = servicePackMajor;

    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                              mask) != FALSE;
}

}  // namespace

void DetectOsVersion(DWORD* major, DWORD* minor, WORD* servicePackMajor) {
    // The probes hold for every grid point up to the running version and for
    // none above it, so searching down from the top finds the same point as
    // probing the whole grid, with a few dozen probes instead of 630.
    for (WORD probeMajor = 19; probeMajor >= 5; --probeMajor) {
        if (!IsOsVersion(probeMajor, 0, 0)) continue;
        for (WORD probeMinor = 6;; --probeMinor) {
            if (!IsOsVersion(probeMajor, probeMinor, 0)) continue;
            for (WORD probeServicePack = 5;; --probeServicePack) {
                if (!IsOsVersion(probeMajor, probeMinor, probeServicePack)) continue;
                *major = probeMajor;
                *minor = probeMinor;
                *servicePackMajor = probeServicePack;
                return;
            }
        }
    }
}
