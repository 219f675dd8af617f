#pragma once
// What one run of tidy was asked to do and how it has gone so far, handed
// down to every step that packs a hive or reports one.

// Files tidy replaces are kept as NAME.tidy-YYYYMMDD-HHMMSS.
constexpr const wchar_t* TidyTag = L"tidy";

struct TidyRun {
    bool dryRun = false;     // /n: measure every hive, change nothing
    bool failed = false;     // some hive, or the whole run, failed
    int scheduledHives = 0;  // hives that a restart replaces with their packed copy
    // The hives that got a size line: as they were, and as they are (or,
    // online, will be after the restart, or with /n would be).
    unsigned long long totalBefore = 0;
    unsigned long long totalAfter = 0;
};
