#pragma once
// GPS weeks and calendar dates. Dates are day counts on the application's day scale,
// whose day 0 is 30 December 1899 (Julian Date 2415018.5 at 00:00).
#include <string>

#include "common/calendar.hpp"

namespace trajix {

/// Day count of a date on the application's day scale (1 January 1900 is day 2).
long long dateToDayCount(const CalendarDate& date);

/// The date of a day count; the fraction of a day is dropped (floored).
CalendarDate dayCountToDate(long double dayCount);

/// Day of the year, 1 January = 1.
int dayOfYear(const CalendarDate& date);

struct GpsWeekDate {
    CalendarDate date;                   ///< calendar date of the instant, fraction of the day dropped
    long double modifiedJulianDate = 0;  ///< of the instant, with its fraction
};

/// The calendar date of secondsIntoWeek seconds after the start (Sunday 00:00) of GPS
/// week rolloverCount * 1024 + gpsWeek. Rollover 1, week 610 is Sunday 1 May 2011.
GpsWeekDate gpsWeekToDate(long double rolloverCount, long double gpsWeek, long double secondsIntoWeek);

/// The full GPS week (weeks since 6 January 1980) that contains date.
long long gpsWeekOfDate(const CalendarDate& date);

/// The rollover count that puts the 10-bit week in the 1024-week period ending at the
/// GPS week of today: an almanac of 10-bit week 314 read in 2025 is week 2362, not 1338.
/// Zero when today lies before that week of the first period.
long long rolloverCountFor(long long tenBitWeek, const CalendarDate& today);

}  // namespace trajix
