#include <chrono>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "scenario/gps_week.hpp"

using namespace trajix;

namespace {
std::string dateOf(long double rollover, long double week, long double seconds = 0)
{
    return formatIsoDate(gpsWeekToDate(rollover, week, seconds).date);
}
}  // namespace

TEST(GpsWeekToDate, KnownWeeks)
{
    EXPECT_EQ(dateOf(1, 610), "2011-05-01");
    EXPECT_EQ(dateOf(1, 462), "2008-06-29");
    EXPECT_EQ(dateOf(0, 0), "1980-01-06");
    EXPECT_EQ(dateOf(0, 1023), "1999-08-15");
    EXPECT_EQ(dateOf(1, 0), "1999-08-22");
    EXPECT_EQ(dateOf(2, 0), "2019-04-07");
    EXPECT_DOUBLE_EQ(static_cast<double>(gpsWeekToDate(0, 0, 0).modifiedJulianDate), 44244.0);
}

TEST(GpsWeekToDate, SecondsIntoWeekMoveTheDayOnlyAtWholeDays)
{
    EXPECT_EQ(dateOf(0, 0, 86399.999L), "1980-01-06");
    EXPECT_EQ(dateOf(0, 0, 86400), "1980-01-07");
    EXPECT_EQ(dateOf(1, 610, 6 * 86400 + 86399.5L), "2011-05-07");
    EXPECT_NEAR(static_cast<double>(gpsWeekToDate(0, 0, 43200).modifiedJulianDate), 44244.5, 1e-9);
}

TEST(DayScale, OriginAndRoundTripAgreeWithTheStandardCalendar)
{
    using namespace std::chrono;
    EXPECT_EQ(dateToDayCount({1899, 12, 30}), 0);
    EXPECT_EQ(dateToDayCount({1900, 1, 1}), 2);
    const sys_days origin = year{1899} / December / 30;
    for (long long count = -1000; count < 80000; ++count) {
        const year_month_day expected{origin + days{count}};
        const CalendarDate date = dayCountToDate(static_cast<long double>(count) + 0.75L);
        ASSERT_EQ(date.year, static_cast<int>(expected.year())) << count;
        ASSERT_EQ(date.month, static_cast<int>(static_cast<unsigned>(expected.month()))) << count;
        ASSERT_EQ(date.day, static_cast<int>(static_cast<unsigned>(expected.day()))) << count;
        ASSERT_EQ(dateToDayCount(date), count);
    }
}

TEST(DayScale, DayOfYear)
{
    EXPECT_EQ(dayOfYear({2002, 10, 20}), 293);
    EXPECT_EQ(dayOfYear({2012, 1, 19}), 19);
    EXPECT_EQ(dayOfYear({2012, 12, 31}), 366);
    EXPECT_EQ(dayOfYear({2100, 3, 1}), 60);
}

TEST(DayScale, IsoDates)
{
    EXPECT_EQ(formatIsoDate(parseIsoDate("2026-12-08")), "2026-12-08");
    EXPECT_EQ(formatIsoDate(parseIsoDate("2024-02-29")), "2024-02-29");
    for (const char* bad :
         {"2026-02-29", "2026-13-01", "2026-1-01", "2026/01/01", "", "20261208", "2026-00-10", "+026-01-01"})
        EXPECT_THROW(parseIsoDate(bad), Error) << bad;
    try {
        parseIsoDate("2026-02-30");
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("2026-02-30"), std::string::npos);
    }
}

// Almanacs after the 2019 rollover must not be dated 1024 weeks too early.
TEST(AlmanacWeekRollover, AlmanacsAfterSecondRolloverAreDatedInTheirOwnPeriod)
{
    const CalendarDate today{2026, 12, 8};
    EXPECT_EQ(rolloverCountFor(610, today), 1);
    EXPECT_EQ(dateOf(static_cast<long double>(rolloverCountFor(610, today)), 610), "2011-05-01");
    EXPECT_EQ(rolloverCountFor(314, today), 2);
    EXPECT_EQ(dateOf(static_cast<long double>(rolloverCountFor(314, today)), 314), "2025-04-13");
}

TEST(AlmanacWeekRollover, PeriodEndsAtTheCurrentWeek)
{
    const CalendarDate today{2026, 12, 8};
    const long long current = gpsWeekOfDate(today);
    EXPECT_EQ(current, 2448);                                   // week of Sunday 6 December 2026
    EXPECT_EQ(rolloverCountFor(current % 1024, today), 2);      // this week
    EXPECT_EQ(rolloverCountFor(current % 1024 + 1, today), 1);  // next week is 1024 weeks ago
    EXPECT_EQ(gpsWeekOfDate({1980, 1, 5}), -1);
    EXPECT_EQ(rolloverCountFor(500, {1985, 1, 1}), 0);  // a clock before the week
}
