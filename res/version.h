// The version of every program, and the one place it is written: the
// version block (version.rc), the banners and scripts/package, which gives
// the Windows Installer package the first three of VERSION_NUMBERS, take it
// from here.
#ifndef ZEL_VERSION_H
#define ZEL_VERSION_H

#define VERSION_NUMBERS 1,2,0,0
#define VERSION_TEXT "1.2.0.0"
// How the banners name it.
#define VERSION_BANNER L"Corvane v1.20"

#endif
