#pragma once
// When a service that stays (/daily) makes its next backup: once the local
// date has moved on past the day of its last run, and the local time has
// reached the chosen minute of the day.
#include <windows.h>

struct DailySchedule {
    bool daily = false;  // the service stays and wakes each day
    bool timeGiven = false;
    int minute = 0;  // minutes after midnight at which a new day's backup is due
};

// Reads what follows "/daily": nothing, or ":HH:MM" with HH from 00 to 23 and
// MM from 00 to 59, two digits each. False for any other text, with
// *schedule untouched.
bool ReadDailyOption(const wchar_t* text, DailySchedule* schedule);

// The fixed delay of 0 to 59 minutes that a machine adds when no time was
// given, derived from its computer name, so that a fleet writing to one
// server spreads over the hour.
int MachineDelayMinutes(const wchar_t* computerName);

// The local date as one number, YYYYMMDD, so that dates compare in order.
DWORD DayNumber(const SYSTEMTIME& time);

// Whether a backup is due at `now` when the last run was on day `lastDay`: a
// later date than that, at or past the minute. A clock moved back to an
// earlier date makes none.
bool IsBackupDue(const SYSTEMTIME& now, DWORD lastDay, int minute);
