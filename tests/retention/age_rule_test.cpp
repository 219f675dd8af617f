#include <gtest/gtest.h>

#include <climits>

#include "backup/retention.h"
#include "support/scratch.h"

namespace {

constexpr ULONGLONG UnitsPerSecond = 10000000ULL;
constexpr ULONGLONG UnitsPerDay = 86400ULL * UnitsPerSecond;
// 2024-05-01 00:00:00 UTC.
constexpr ULONGLONG Now = 133589952000000000ULL;

FILETIME At(ULONGLONG units) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(units);
    time.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return time;
}

TEST(RetentionAge, ExactlyRetentionDaysOldSurvivesOneSecondMoreGoes) {
    for (int days : {0, 1, 2, 7, 15, 30, 90, 365, 3650}) {
        const ULONGLONG boundary = Now - static_cast<ULONGLONG>(days) * UnitsPerDay;
        EXPECT_FALSE(IsOlderThanRetention(At(Now), At(boundary), days)) << days << " days";
        EXPECT_TRUE(IsOlderThanRetention(At(Now), At(boundary - UnitsPerSecond), days))
            << days << " days and one second";
    }
}

TEST(RetentionAge, CountsFractionsOfADayNotWholeDays) {
    // Fifteen days and a single 100 ns unit is already older than 15 days.
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(Now - 15 * UnitsPerDay - 1), 15));
    // Fourteen and a half days is not.
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(Now - 14 * UnitsPerDay - UnitsPerDay / 2), 15));
    // Twenty days old goes, ten days old stays.
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(Now - 20 * UnitsPerDay), 15));
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(Now - 10 * UnitsPerDay), 15));
}

TEST(RetentionAge, ZeroDaysDeletesEverythingCreatedBeforeNow) {
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(Now - 1), 0));
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(Now - 3600 * UnitsPerSecond), 0));
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(Now), 0));
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(Now + 1), 0));
}

TEST(RetentionAge, FutureCreationSurvivesUnlessRetentionIsNegative) {
    const ULONGLONG halfDayAhead = Now + UnitsPerDay / 2;
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(halfDayAhead), 0));
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(halfDayAhead), 15));
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(Now + 400 * UnitsPerDay), 15));
    // A negative count reaches that many days into the future, strictly.
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(halfDayAhead), -1));
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(Now + UnitsPerDay), -1));
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(Now + UnitsPerDay - UnitsPerSecond), -1));
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(Now + 2 * UnitsPerDay), -3));
}

TEST(RetentionAge, ExtremesOfTheDayCountAndTheClock) {
    // Created at the start of the FILETIME epoch: some 154,000 days old.
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(0), 15));
    EXPECT_FALSE(IsOlderThanRetention(At(Now), At(0), INT_MAX));
    EXPECT_TRUE(IsOlderThanRetention(At(Now), At(Now + 100 * UnitsPerDay), INT_MIN));
    // High part and low part both take part in the difference.
    EXPECT_TRUE(IsOlderThanRetention(At(0x100000000ULL + 16 * UnitsPerDay), At(0x100000000ULL), 15));
    EXPECT_FALSE(IsOlderThanRetention(At(0x1FFFFFFFFULL + 14 * UnitsPerDay), At(0x1FFFFFFFFULL), 15));
}

TEST(DatedFolderName, OnlyFourDigitsDashTwoDigitsDashTwoDigits) {
    EXPECT_TRUE(IsDatedFolderName(L"2024-05-01"));
    EXPECT_TRUE(IsDatedFolderName(L"1999-12-31"));
    EXPECT_TRUE(IsDatedFolderName(L"0000-00-00"));
    for (const wchar_t* name :
         {L"backup", L"2024-5-1", L"2024-05-01x", L"1st_projec", L"2024_05_01", L"20240-5-01",
          L"2024-05-0", L"", L"a024-05-01", L"2024-05-0a", L"2024/05/01", L"2024-05-01 ",
          L" 2024-05-0", L"2024--5-01", L"2024-05--1"}) {
        EXPECT_FALSE(IsDatedFolderName(name)) << Narrow(name);
    }
}

TEST(DatedFolderName, DigitsAreAsciiOnly) {
    // Fullwidth and Arabic-Indic digits are digits to the locale, not to us.
    EXPECT_FALSE(IsDatedFolderName(L"\xFF12" L"024-05-01"));
    EXPECT_FALSE(IsDatedFolderName(L"2024-05-0\x0661"));
    EXPECT_FALSE(IsDatedFolderName(L"2024\x2010" L"05-01"));  // hyphen, not minus-hyphen
}

WIN32_FIND_DATAW Entry(const wchar_t* name, DWORD attributes) {
    WIN32_FIND_DATAW entry;
    memset(&entry, 0xA5, sizeof(entry));
    entry.dwFileAttributes = attributes;
    wcscpy_s(entry.cFileName, name);
    return entry;
}

TEST(TreeEntry, DotNamesArePassedOverWhateverTheirAttributes) {
    EXPECT_EQ(TreeEntryAction::PassOver, ClassifyTreeEntry(Entry(L".", FILE_ATTRIBUTE_DIRECTORY)));
    EXPECT_EQ(TreeEntryAction::PassOver, ClassifyTreeEntry(Entry(L"..", FILE_ATTRIBUTE_DIRECTORY)));
    EXPECT_EQ(TreeEntryAction::PassOver, ClassifyTreeEntry(Entry(L".", 0)));
    EXPECT_EQ(TreeEntryAction::PassOver,
              ClassifyTreeEntry(Entry(L"..", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)));
    EXPECT_EQ(TreeEntryAction::EmptySubfolder, ClassifyTreeEntry(Entry(L"...", FILE_ATTRIBUTE_DIRECTORY)));
    EXPECT_EQ(TreeEntryAction::EmptySubfolder, ClassifyTreeEntry(Entry(L".git", FILE_ATTRIBUTE_DIRECTORY)));
    EXPECT_EQ(TreeEntryAction::DeletePlainFile, ClassifyTreeEntry(Entry(L"..x", FILE_ATTRIBUTE_ARCHIVE)));
}

TEST(TreeEntry, LinksAreNeverListed) {
    EXPECT_EQ(TreeEntryAction::RemoveFolderLink,
              ClassifyTreeEntry(Entry(L"link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)));
    EXPECT_EQ(TreeEntryAction::RemoveFolderLink,
              ClassifyTreeEntry(Entry(L"2024-05-01", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                                                         FILE_ATTRIBUTE_REPARSE_POINT)));
    EXPECT_EQ(TreeEntryAction::DeleteFileLink,
              ClassifyTreeEntry(Entry(L"file", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT)));
}

TEST(TreeEntry, PlainFilesAndFolders) {
    EXPECT_EQ(TreeEntryAction::EmptySubfolder, ClassifyTreeEntry(Entry(L"sub", FILE_ATTRIBUTE_DIRECTORY)));
    EXPECT_EQ(TreeEntryAction::EmptySubfolder,
              ClassifyTreeEntry(Entry(L"sub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                                                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)));
    EXPECT_EQ(TreeEntryAction::DeletePlainFile, ClassifyTreeEntry(Entry(L"SAM", FILE_ATTRIBUTE_ARCHIVE)));
    EXPECT_EQ(TreeEntryAction::DeletePlainFile,
              ClassifyTreeEntry(Entry(L"x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                FILE_ATTRIBUTE_SYSTEM)));
    EXPECT_EQ(TreeEntryAction::DeletePlainFile, ClassifyTreeEntry(Entry(L"2024-05-01", 0)));
}

}  // namespace
