#pragma once
#include <windows.h>

// Composes "ModuleDir\zel.exe" /service /days:N "BackupRoot" into a buffer of
// `capacity` characters. False when it does not fit.
bool ComposeServiceCommandLine(wchar_t* commandLine, size_t capacity);
