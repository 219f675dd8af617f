#pragma once
// What the hive room's tests share: Windows-written hive files, the
// verdict of the check as one line, and a listing of everything the reader
// reads, in the form tests/hives/oracle.py writes hivex's readings.
#include "hive/hive.h"
#include "hive/hive_check.h"
#include "hive/regf_layout.h"
#include "support/support.h"

// "passed", "passed, dirty (WHY NOT AFTER ITS LOGS)", "passed after its logs
// (N entries)", "passed, text", "failed: PROBLEM" or "not checked: ERROR".
std::string Verdict(const std::wstring& path);
std::string VerdictLine(const HiveCheckResult& verdict);

// Every key in hive order ("K depth name"), each followed by its values
// ("V name type size hash"); "error N" where a call failed.
Strings Listing(Hive* hive);

// A file tests/hives/oracle.py names: "real\\NAME", one Windows wrote, or
// "out\\NAME", one beside the test programs (HiveFile).
std::wstring OracleFile(const std::wstring& label);
