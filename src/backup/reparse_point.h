#pragma once
#include <windows.h>

// When path (a 2048-character buffer) is a junction or symbolic link to a
// directory, replaces it with the link's target. False leaves it unchanged.
bool ResolveReparsePoint(wchar_t* path);
