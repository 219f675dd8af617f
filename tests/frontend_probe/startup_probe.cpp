// A test build of zel.exe's start-up code: prints the version that the
// start-up scan settles on as "major.minor", and nothing else.
#include <stdio.h>

#include "app/process_state.h"
#include "app/startup.h"

int wmain(int, wchar_t**) {
    CaptureStartupValues();
    printf("%lu.%lu", OsMajor, OsMinor);
    return 0;
}
