#include <gtest/gtest.h>

#include "backup/retention.h"
#include "support/scratch.h"

namespace {

constexpr LONGLONG Second = 10000000LL;  // in 100 ns units
constexpr LONGLONG Day = 86400LL * Second;
constexpr LONGLONG Now = 133589952000000000LL;  // 2024-05-01 00:00:00 UTC

FILETIME At(LONGLONG units) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(units);
    time.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return time;
}

struct AgeCase {
    int days;
    LONGLONG created;  // relative to Now
    bool deleted;
};

TEST(RetentionAge, BoundariesInThePastAndTheFuture) {
    const AgeCase cases[] = {
        {15, -15 * Day, false},           {15, -15 * Day - Second, true},
        {0, 0, false},                    {0, -Second, true},
        {15, Day / 2, false},             {0, Day / 2, false},
        {-1, Day / 2, true},              {-1, Day, false},
        {-1, Day - Second, true},         {15, -14 * Day - Day / 2, false},
    };
    for (const AgeCase& c : cases) {
        EXPECT_EQ(c.deleted, IsOlderThanRetention(At(Now), At(Now + c.created), c.days))
            << c.days << " days, created " << c.created / Second << " s from now";
    }
}

TEST(DatedFolderName, OnlyTheProgramsOwnDateForm) {
    EXPECT_TRUE(IsDatedFolderName(L"2024-05-01"));
    for (const wchar_t* name : {L"backup", L"2024-5-1", L"2024-05-01x", L"1st_projec", L""}) {
        EXPECT_FALSE(IsDatedFolderName(name)) << Narrow(name);
    }
}

}  // namespace
