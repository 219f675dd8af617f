#pragma once
// The lines a run prints for its hives, and the closing total.
#include <windows.h>

#include "tidy/run_state.h"

// "NAME: before -> after bytes, outcome". The hive joins the totals at its
// packed size when it is (or would be) packed, else at its old size.
void ReportSizes(TidyRun* run, const wchar_t* name, unsigned long long before,
                 unsigned long long after, bool packed, const wchar_t* outcome);

// "NAME: what [system text]", and the run has failed.
void ReportFailure(TidyRun* run, const wchar_t* name, const wchar_t* what, DWORD code);

// "NAME: not present, passed over".
void ReportNotPresent(const wchar_t* name);

// "Total: before -> after bytes", and online, when a hive was scheduled,
// that a restart finishes the work.
void PrintTotal(const TidyRun& run, bool online);
