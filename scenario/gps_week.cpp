#include "scenario/gps_week.hpp"

#include <cmath>

#include <fmt/format.h>

namespace trajix {

namespace {

// Days from 1 March of year 0 (proleptic Gregorian) to the given date; counting years
// from March puts the leap day at the end of the year.
long long daysFromCivil(long long year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long monthFromMarch = month > 2 ? month - 3 : month + 9;
    const long long dayOfYearFromMarch = (153 * monthFromMarch + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYearFromMarch;
    return era * 146097 + dayOfEra;
}

CalendarDate civilFromDays(long long days)
{
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYearFromMarch = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthFromMarch = (5 * dayOfYearFromMarch + 2) / 153;
    CalendarDate date;
    date.day = static_cast<int>(dayOfYearFromMarch - (153 * monthFromMarch + 2) / 5 + 1);
    date.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    date.year = static_cast<int>(yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0));
    return date;
}

const long long dayScaleOrigin = daysFromCivil(1899, 12, 30);

constexpr long double julianDateOfDayZero = 2415018.5L;
constexpr long double modifiedJulianOffset = 2400000.5L;

}  // namespace

long long dateToDayCount(const CalendarDate& date)
{
    return daysFromCivil(date.year, date.month, date.day) - dayScaleOrigin;
}

CalendarDate dayCountToDate(long double dayCount)
{
    return civilFromDays(static_cast<long long>(std::floor(dayCount)) + dayScaleOrigin);
}

int dayOfYear(const CalendarDate& date)
{
    return static_cast<int>(dateToDayCount(date) - dateToDayCount({date.year, 1, 1}) + 1);
}

GpsWeekDate gpsWeekToDate(long double rolloverCount, long double gpsWeek, long double secondsIntoWeek)
{
    const long double daysSinceEpoch = (rolloverCount * 1024.0L + gpsWeek) * 7.0L + secondsIntoWeek / 86400.0L;
    const long double epochDayCount = static_cast<long double>(dateToDayCount({1980, 1, 6}));
    const long double epochJulianDate = epochDayCount + julianDateOfDayZero;
    long double modifiedJulianDate = epochJulianDate - modifiedJulianOffset;
    modifiedJulianDate += daysSinceEpoch;
    const long double julianDate = modifiedJulianDate + modifiedJulianOffset;
    GpsWeekDate result;
    result.date = dayCountToDate(julianDate - julianDateOfDayZero);
    result.modifiedJulianDate = modifiedJulianDate;
    return result;
}

long long gpsWeekOfDate(const CalendarDate& date)
{
    const long long days = dateToDayCount(date) - dateToDayCount({1980, 1, 6});
    return days >= 0 ? days / 7 : (days - 6) / 7;
}

long long rolloverCountFor(long long tenBitWeek, const CalendarDate& today)
{
    const long long currentWeek = gpsWeekOfDate(today);
    if (currentWeek < tenBitWeek) return 0;
    return (currentWeek - tenBitWeek) / 1024;
}

}  // namespace trajix
