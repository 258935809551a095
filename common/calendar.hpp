#pragma once
// Calendar dates of the proleptic Gregorian calendar, as the tool reads and prints them.
#include <string>

namespace trajix {

struct CalendarDate {
    int year = 0;
    int month = 0;  ///< 1..12
    int day = 0;    ///< 1..31
    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

/// Parses "YYYY-MM-DD"; throws Error naming the text when it is not a real date.
CalendarDate parseIsoDate(const std::string& text);

/// "YYYY-MM-DD".
std::string formatIsoDate(const CalendarDate& date);

/// The date of the system clock (UTC).
CalendarDate todayUtc();

}  // namespace trajix
