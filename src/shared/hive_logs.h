#pragma once
// A hive file NAME travels with its transaction logs NAME.LOG1, NAME.LOG2
// and NAME.LOG: copied with it, kept aside with it, put back with it. Left
// behind, a log would be replayed onto whatever file carries the name.

// The logs alone.
inline constexpr const wchar_t* HiveLogSuffixes[] = {L".LOG1", L".LOG2", L".LOG"};

// The file itself, then its logs.
inline constexpr const wchar_t* HiveFileSuffixes[] = {L"", L".LOG1", L".LOG2", L".LOG"};
