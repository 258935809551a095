// The span a sky file covers: the check made before a run agrees with the writer's own
// at every second around the span's ends, the refusal names the span in UTC, and the
// start offered lies inside it.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "nmea/dates.hpp"
#include "nmea/sky_sentences.hpp"
#include "sky/gps_orbit.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::dataFile;

namespace {

// A file start (UTC date, seconds of day) of an instant in GPS time.
FileStart startAt(double gpsTime)
{
    auto day = static_cast<long long>(std::floor(gpsTime / 86400));
    double clock = gpsTime - static_cast<double>(day) * 86400 - gps::leapSecondsAtWeek(static_cast<int>(day / 7));
    if (clock < 0) {
        --day;
        clock = gpsTime - static_cast<double>(day) * 86400 - gps::leapSecondsAtWeek(static_cast<int>(day / 7));
    }
    const CalendarDate date = addDays({1980, 1, 6}, day);
    return {date, static_cast<long long>(std::floor(clock))};
}

// True when the writer's sky takes a first sample at start (the writer's own check).
bool writerTakes(const std::shared_ptr<const sky::SkyModel>& model, const FileStart& start)
{
    SkySentences sky(model, 5);
    const long long s = start.secondOfDay;
    const NmeaStamp stamp{fmt::format("{:02}{:02}{:02}.00", s / 3600, s / 60 % 60, s % 60), start.date};
    try {
        sky.observe(stamp, 40.4L, -3.9L, "650.00");
        return true;
    } catch (const sky::SkyNotCovered&) {
        return false;
    }
}

bool checkTakes(const sky::SkyModel& model, const FileStart& start)
{
    try {
        checkSkyCoversStart(model, start.date, static_cast<long double>(start.secondOfDay));
        return true;
    } catch (const sky::SkyNotCovered&) {
        return false;
    }
}

struct SkyFile {
    const char* name;
    CalendarDate near;  // a date the file is read for
};

}  // namespace

TEST(SkyCoverage, TheCheckBeforeARunIsTheWritersAndTheOfferedStartLiesInside)
{
    for (const SkyFile& file : {SkyFile{"sky/brdc1820_0000-0400.10n", {2010, 7, 1}},
                                SkyFile{"sky/VILL00ESP_R_20181700000_0000-0500_GPS.rnx", {2018, 6, 19}},
                                SkyFile{"scenario/week314.alm", {2025, 4, 13}}}) {
        SCOPED_TRACE(file.name);
        const auto model = skyModelFor(dataFile(file.name), file.near);
        const sky::SkyCoverage span = model->coverage();
        ASSERT_LT(span.first, span.last);
        EXPECT_GE(span.suggestedStart, span.first);
        EXPECT_LE(span.suggestedStart, span.last);

        // At every second around both ends the two checks agree, and the ends hold.
        for (const double end : {span.first, span.last})
            for (int offset = -3; offset <= 3; ++offset) {
                const FileStart start = startAt(std::floor(end) + offset);
                EXPECT_EQ(checkTakes(*model, start), writerTakes(model, start)) << offset;
            }
        EXPECT_FALSE(checkTakes(*model, startAt(std::floor(span.first) - 1)));
        EXPECT_FALSE(checkTakes(*model, startAt(std::floor(span.last) + 1)));

        // The start offered is taken, on a whole minute of UTC where the span allows.
        const FileStart offered = suggestedFileStart(span);
        EXPECT_TRUE(checkTakes(*model, offered));
        EXPECT_TRUE(writerTakes(model, offered));
        EXPECT_EQ(offered.secondOfDay % 60, 0);
        EXPECT_LT(firstSampleGpsTime(offered.date, offered.secondOfDay) - span.suggestedStart, 60);

        // A refusal names the file, the time asked and the span, UTC.
        const FileStart outside = startAt(span.last + 40 * 86400.0);
        try {
            checkSkyCoversStart(*model, outside.date, static_cast<long double>(outside.secondOfDay));
            ADD_FAILURE() << "not refused";
        } catch (const sky::SkyNotCovered& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find(dataFile(file.name).string()), std::string::npos) << text;
            for (const double time : {std::floor(span.last + 40 * 86400.0), span.first, span.last})
                EXPECT_NE(text.find(sky::utcText(time)), std::string::npos) << sky::utcText(time) << " in " << text;
            EXPECT_EQ(text.find(" GPS"), std::string::npos) << text;
            EXPECT_EQ(error.coverage().first, span.first);
        }
    }
}

TEST(SkyCoverage, UtcTextTakesTheLeapSecondsOff)
{
    // GPS week 1590 (2010): 15 leap seconds; 2018: 18.
    EXPECT_EQ(sky::utcText(1590.0 * 604800 + 4 * 86400 + 15), "2010-07-01 00:00:00 UTC");
    EXPECT_EQ(sky::utcText(2006.0 * 604800 + 2 * 86400 + 3600 + 17), "2018-06-19 00:59:59 UTC");
}

TEST(SkyCoverage, ALogsTimeOfDayMovesToADayThatCoversIt)
{
    const auto model = skyModelFor(dataFile("sky/VILL00ESP_R_20181700000_0000-0500_GPS.rnx"), {2018, 6, 19});
    const sky::SkyCoverage span = model->coverage();
    struct Case {
        CalendarDate date;
        long long clock;
        std::optional<CalendarDate> expected;
    };
    // The file covers 2018-06-18 from about 21:00 to 2018-06-19 about 08:00.
    for (const Case& c :
         {Case{{2018, 7, 4}, 2 * 3600, CalendarDate{2018, 6, 19}},
          Case{{2017, 1, 1}, 22 * 3600, CalendarDate{2018, 6, 18}}, Case{{2018, 7, 4}, 12 * 3600, std::nullopt}}) {
        const double time = firstSampleGpsTime(c.date, static_cast<long double>(c.clock));
        const auto date = dateCoveringTimeOfDay(span, time);
        EXPECT_EQ(date, c.expected) << c.clock;
        if (date) {
            EXPECT_TRUE(checkTakes(*model, {*date, c.clock}));
        }
    }
}
