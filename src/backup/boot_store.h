#pragma once
#include <windows.h>

// Starts applicationPath with "/enum", hidden, and waits for it to end.
void RunBcdEdit(const wchar_t* applicationPath);

// Looks the boot store up in the list of loaded hives. keyName and filePath
// are 2048-character buffers, left as they were when nothing is found.
bool FindBcdHive(wchar_t* keyName, wchar_t* filePath);
