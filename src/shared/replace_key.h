#pragma once
#include <windows.h>

// Where a loaded hive's replacement at the next start is scheduled:
// RegReplaceKeyW, which Wine only stubs, so the tests put a recorder here.
using RegReplaceKeyFn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, LPCWSTR, LPCWSTR);
extern RegReplaceKeyFn RegReplaceKeyEntry;
