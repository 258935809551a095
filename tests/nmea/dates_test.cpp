// The dated clock, the date rules and the RMC and ZDA sentences.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include <fmt/format.h>

#include "common/error.hpp"
#include "nmea/dates.hpp"

using namespace trajix;

namespace {

// A plain reference: the next day by month lengths.
CalendarDate nextDay(CalendarDate date)
{
    const bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
    const int lengths[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (++date.day > lengths[date.month - 1]) {
        date.day = 1;
        if (++date.month > 12) {
            date.month = 1;
            ++date.year;
        }
    }
    return date;
}

// The stamp a clock of t seconds should get, from whole centiseconds: the clock
// rounded to the printed hundredths, split into days and time of day.
NmeaStamp referenceStamp(long double t, const CalendarDate& firstDate, long long firstDay)
{
    const long long centiseconds = std::llround(t * 100);
    const long long day = centiseconds / 8640000;
    const long long ofDay = centiseconds % 8640000;
    NmeaStamp stamp;
    stamp.time = fmt::format("{:02}{:02}{:02}.{:02}", ofDay / 360000, ofDay / 6000 % 60, ofDay / 100 % 60, ofDay % 100);
    stamp.date = firstDate;
    for (long long d = firstDay; d < day; ++d) stamp.date = nextDay(stamp.date);
    return stamp;
}

std::string checksumOf(const std::string& sentence)
{
    unsigned sum = 0;
    for (std::size_t i = 1; i < sentence.find('*'); ++i) sum ^= static_cast<unsigned char>(sentence[i]);
    return fmt::format("{:02X}", sum);
}

}  // namespace

TEST(DatedClock, WithoutADateTimesPrintAsBeforeHoursPast24Included)
{
    const NmeaClock clock;
    EXPECT_FALSE(clock.dated());
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> seconds(0, 500000);
    for (int i = 0; i < 2000; ++i) {
        const long double t = seconds(random);
        EXPECT_EQ(clock.stamp(t).time, formatNmeaTime(t)) << static_cast<double>(t);
    }
    EXPECT_EQ(clock.stamp(90000).time, "250000.00");
}

TEST(DatedClock, TimesWrapAtMidnightAndTheDateAdvancesWithThem)
{
    // The first sample at 22:00 of the last day of a leap February: the files run on
    // through the leap day, the month end and past the end of a year.
    for (const CalendarDate first : {CalendarDate{2024, 2, 28}, CalendarDate{2026, 12, 30}, CalendarDate{1980, 1, 6}}) {
        const long double firstClock = 79200;
        const NmeaClock clock(first, firstClock);
        std::mt19937_64 random(11);
        std::uniform_real_distribution<double> seconds(static_cast<double>(firstClock), 5 * 86400);
        for (int i = 0; i < 3000; ++i) {
            const long double t = seconds(random);
            const NmeaStamp expected = referenceStamp(t, first, 0);
            const NmeaStamp stamp = clock.stamp(t);
            ASSERT_EQ(stamp.time, expected.time) << static_cast<double>(t);
            ASSERT_EQ(formatIsoDate(stamp.date), formatIsoDate(expected.date)) << static_cast<double>(t);
        }
    }
}

TEST(DatedClock, TheCarryAtMidnightMovesTheDateWithTheTime)
{
    const NmeaClock clock({2026, 12, 31}, 86390);
    EXPECT_EQ(clock.stamp(86399.99L).time, "235959.99");
    EXPECT_EQ(formatIsoDate(clock.stamp(86399.99L).date), "2026-12-31");
    // A clock a hair below midnight prints as midnight of the next day, never 24:00.
    for (const long double t : {86399.997L, 86400 - 1e-9L, 86400.0L, 86400 + 1e-9L}) {
        EXPECT_EQ(clock.stamp(t).time, "000000.00") << static_cast<double>(t);
        EXPECT_EQ(formatIsoDate(clock.stamp(t).date), "2027-01-01") << static_cast<double>(t);
    }
    // The given date is the first sample's: a start at 25:00 is 01:00 of that date.
    const NmeaClock late({2026, 3, 1}, 90000);
    EXPECT_EQ(late.stamp(90000).time, "010000.00");
    EXPECT_EQ(formatIsoDate(late.stamp(90000).date), "2026-03-01");
    EXPECT_EQ(formatIsoDate(late.stamp(172800).date), "2026-03-02");
}

TEST(FileDate, CalendarDatesFromTheStartOfGpsTimeTo2099)
{
    EXPECT_EQ(formatIsoDate(parseFileDate("2024-02-29")), "2024-02-29");
    EXPECT_EQ(formatIsoDate(parseFileDate(" 1980-01-06 ")), "1980-01-06");
    EXPECT_EQ(formatIsoDate(parseFileDate("2099-12-31")), "2099-12-31");
    const std::pair<const char*, const char*> refused[] = {{"2023-02-29", "'2023-02-29' is not a calendar date"},
                                                           {"2100-02-29", "'2100-02-29' is not a calendar date"},
                                                           {"2026-13-01", "'2026-13-01' is not"},
                                                           {"2026-1-1", "'2026-1-1' is not"},
                                                           {"26-01-01", "'26-01-01' is not"},
                                                           {"", "'' is not"},
                                                           {"1980-01-05", "1980-01-05 lies before 1980-01-06"},
                                                           {"2100-01-01", "2100-01-01 lies after 2099"},
                                                           {"2026-01-01x", "'2026-01-01x' is not"}};
    for (const auto& [text, message] : refused) {
        try {
            parseFileDate(text);
            ADD_FAILURE() << text << " was taken";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(checkFileDate({2026, 4, 31}), Error);
    EXPECT_THROW(NmeaClock({1979, 12, 31}, 0), Error);
}

TEST(DateSentencesRule, RmcAndZdaNeedADate)
{
    EXPECT_NO_THROW(checkDateSentences({}));
    EXPECT_THROW(checkDateSentences({true, false, std::nullopt}), Error);
    EXPECT_THROW(checkDateSentences({false, true, std::nullopt}), Error);
    EXPECT_THROW(SampleSentences({true, true, CalendarDate{2026, 2, 29}}, 0, 0.05L, VtgStyle::Route), Error);
    // A date alone dates the file: its times wrap, no sentence is added.
    SampleSentences dateOnly({false, false, CalendarDate{2026, 1, 1}}, 86399, 0.05L, VtgStyle::Route);
    const NmeaStamp stamp = dateOnly.stamp(86400);
    EXPECT_EQ(stamp.time, "000000.00");
    EXPECT_EQ(dateOnly.rmc(stamp, 1, 2, 3, 4), "");
    EXPECT_EQ(dateOnly.zda(stamp), "");
}

TEST(RmcAndZda, ExactTexts)
{
    const std::string rmc =
        rmcSentence("123519.00", 48.1173L, 11.5166666666666666L, 22.4L * 1.852L, 84.4L, {1994, 3, 23}, VtgStyle::Route);
    EXPECT_EQ(rmc, "$GPRMC,123519.00,A,4807.03800000,N,01131.00000000,E,022.400,084.40,230394,,,A*62\r\n");
    EXPECT_EQ(checksumOf(rmc), "62");
    // Logger style: optional digits; a course that prints as 360 prints as 0; south, west.
    EXPECT_EQ(rmcSentence("000000.00", -33.5L, -1.5L, 0, 359.999L, {2005, 1, 9}, VtgStyle::Logger),
              "$GPRMC,000000.00,A,3330.00000000,S,00130.00000000,W,0.000,0.00,090105,,,A*" +
                  checksumOf("$GPRMC,000000.00,A,3330.00000000,S,00130.00000000,W,0.000,0.00,090105,,,A*") + "\r\n");
    const std::string zda = zdaSentence("000000.00", {2027, 1, 1});
    EXPECT_EQ(zda, "$GPZDA,000000.00,01,01,2027,00,00*61\r\n");
    // RMC prints speed and course exactly as VTG does.
    for (const double kmh : {0.0, 0.9259, 60.0011, 1234.5678}) {
        for (const auto style : {VtgStyle::Route, VtgStyle::Logger}) {
            const std::string vtg = vtgSentence(271.005, kmh, style);
            const std::string r = rmcSentence("000000.00", 1, 1, kmh, 271.005, {2026, 1, 1}, style);
            const auto field = [](const std::string& s, int n) {
                std::size_t at = 0;
                for (int i = 0; i < n; ++i) at = s.find(',', at) + 1;
                return s.substr(at, s.find(',', at) - at);
            };
            EXPECT_EQ(field(r, 7), field(vtg, 5)) << kmh;  // knots
            EXPECT_EQ(field(r, 8), field(vtg, 1)) << kmh;  // course true
        }
    }
}

TEST(RmcAndZda, OneZdaOnTheFirstSampleOfEverySecond)
{
    for (const double rate : {3.0, 20.0, 200.0, 2.5}) {
        SampleSentences sentences({false, true, CalendarDate{2026, 12, 31}}, 86390, 0.05L, VtgStyle::Route);
        const long double interval = 1.0L / rate;
        long double clock = 86390;
        int zdas = 0, seconds = 0;
        std::string previousSecond;
        for (int i = 0; i < static_cast<int>(rate * 20); ++i, clock += interval) {
            const NmeaStamp stamp = sentences.stamp(clock);
            const std::string zda = sentences.zda(stamp);
            const std::string second = stamp.time.substr(0, 6);
            EXPECT_EQ(!zda.empty(), second != previousSecond) << rate << " " << stamp.time;
            seconds += second != previousSecond ? 1 : 0;
            if (!zda.empty()) {
                ++zdas;
                EXPECT_EQ(zda.substr(7, 9), stamp.time);
                if (rate != 2.5) {
                    EXPECT_EQ(stamp.time.substr(7), "00") << rate;
                }
            }
            previousSecond = second;
        }
        EXPECT_EQ(zdas, seconds) << rate;
        EXPECT_GE(zdas, 20) << rate;
    }
}
