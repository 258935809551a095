#include "common/calendar.hpp"

#include <ctime>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"

namespace trajix {

namespace {

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

}  // namespace

CalendarDate parseIsoDate(const std::string& text)
{
    const auto bad = [&] { return Error(fmt::format("'{}' is not a date of the form YYYY-MM-DD", text)); };
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') throw bad();
    long long year = 0, month = 0, day = 0;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (text[i] < '0' || text[i] > '9') throw bad();
    if (!tryParseInteger(text.substr(0, 4), year) || !tryParseInteger(text.substr(5, 2), month) ||
        !tryParseInteger(text.substr(8, 2), day))
        throw bad();
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(static_cast<int>(year), static_cast<int>(month)))
        throw bad();
    return {static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
}

std::string formatIsoDate(const CalendarDate& date)
{
    return fmt::format("{:04}-{:02}-{:02}", date.year, date.month, date.day);
}

CalendarDate todayUtc()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

}  // namespace trajix
