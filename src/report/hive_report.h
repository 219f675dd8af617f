#pragma once
// The result line of each hive: string 339 with the name, or string 340 with
// the name as the prefix of a report for the error code.
#include <windows.h>

void PrintHiveSaved(const wchar_t* hiveName);
void PrintHiveFailed(const wchar_t* hiveName, DWORD code);
