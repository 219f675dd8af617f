#include <gtest/gtest.h>

#include <limits.h>

#include "app/command_line.h"

namespace {

TEST(ReadDaysValue, TextWithoutDigitsGivesZero) {
    EXPECT_EQ(0, ReadDaysValue(L""));
    EXPECT_EQ(0, ReadDaysValue(L"abc"));
    EXPECT_EQ(0, ReadDaysValue(L"-"));
    EXPECT_EQ(0, ReadDaysValue(L"+-3"));
    EXPECT_EQ(0, ReadDaysValue(L"x7"));
}

TEST(ReadDaysValue, ReadsSignAndDigitsUpToTheFirstOtherCharacter) {
    EXPECT_EQ(-3, ReadDaysValue(L"-3"));
    EXPECT_EQ(7, ReadDaysValue(L"7x"));
    EXPECT_EQ(12, ReadDaysValue(L" +12"));
    EXPECT_EQ(5, ReadDaysValue(L"\t 5"));
    EXPECT_EQ(7, ReadDaysValue(L"007"));
    EXPECT_EQ(0, ReadDaysValue(L"0"));
    EXPECT_EQ(1, ReadDaysValue(L"1 2"));
}

TEST(ReadDaysValue, SaturatesAtTheSigned32BitLimits) {
    EXPECT_EQ(INT_MAX, ReadDaysValue(L"2147483647"));
    EXPECT_EQ(2147483647, ReadDaysValue(L"2147483648"));
    EXPECT_EQ(2147483647, ReadDaysValue(L"99999999999999999999"));
    EXPECT_EQ(INT_MIN, ReadDaysValue(L"-2147483648"));
    EXPECT_EQ(-2147483647 - 1, ReadDaysValue(L"-2147483649"));
    EXPECT_EQ(-2147483647 - 1, ReadDaysValue(L"-99999999999999999999"));
    EXPECT_EQ(INT_MAX, ReadDaysValue(L"000000000000000000002147483647"));
}

}  // namespace
