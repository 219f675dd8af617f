#include "service/daily_schedule.h"

#include "shared/name_case.h"

namespace {

bool ReadTwoDigits(const wchar_t* text, int highest, int* value) {
    if (text[0] < L'0' || text[0] > L'9' || text[1] < L'0' || text[1] > L'9') return false;
    *value = (text[0] - L'0') * 10 + (text[1] - L'0');
    return *value <= highest;
}

}  // namespace

bool ReadDailyOption(const wchar_t* text, DailySchedule* schedule) {
    if (text[0] == L'\0') {
        *schedule = DailySchedule{true, false, 0};
        return true;
    }
    int hours = 0;
    int minutes = 0;
    if (text[0] != L':' || !ReadTwoDigits(text + 1, 23, &hours) || text[3] != L':' ||
        !ReadTwoDigits(text + 4, 59, &minutes) || text[6] != L'\0') {
        return false;
    }
    *schedule = DailySchedule{true, true, hours * 60 + minutes};
    return true;
}

int MachineDelayMinutes(const wchar_t* computerName) {
    // FNV-1a over the upper-cased name: the same name gives the same delay
    // on every start, whatever case it is typed in.
    unsigned hash = 2166136261u;
    for (const wchar_t* unit = computerName; *unit; ++unit) {
        hash = (hash ^ NameUpper(*unit)) * 16777619u;
    }
    return static_cast<int>(hash % 60);
}

DWORD DayNumber(const SYSTEMTIME& time) {
    return time.wYear * 10000u + time.wMonth * 100u + time.wDay;
}

bool IsBackupDue(const SYSTEMTIME& now, DWORD lastDay, int minute) {
    return DayNumber(now) > lastDay && now.wHour * 60 + now.wMinute >= minute;
}
