#pragma once
#include <windows.h>

// Registers the Application event log source "zel", whose message texts are
// compiled into the installed program at exePath. ERROR_SUCCESS or the
// registry's status.
LSTATUS AddEventSource(const wchar_t* exePath);

// Removes that registration; one that is not there is no error.
LSTATUS RemoveEventSource();
