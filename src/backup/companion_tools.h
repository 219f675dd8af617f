#pragma once
#include <windows.h>

// Copies the restore tool and the hive compactor that lie beside zel, in
// both builds, into folder, so that every backup carries what puts it back.
// A tool that is not beside zel is not missed; any other failure gets its
// line. Returns how many could not be copied.
DWORD CopyCompanionTools(const wchar_t* folder);
