#include "app/os_version.h"

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

void DetectOsVersion(DWORD* major, DWORD* minor, WORD* servicePackMajor) {
    for (WORD probeMajor = 5; probeMajor <= 19; ++probeMajor) {
        for (WORD probeMinor = 0; probeMinor <= 6; ++probeMinor) {
            for (WORD probeServicePack = 0; probeServicePack <= 5; ++probeServicePack) {
                if (IsOsVersion(probeMajor, probeMinor, probeServicePack)) {
                    *major = probeMajor;
                    *minor = probeMinor;
                    *servicePackMajor = probeServicePack;
                }
            }
        }
    }
}
