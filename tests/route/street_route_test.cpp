// The route with a street: the samples the preview marks as without a fix are exactly
// those whose GGA in the written file says so (quality 0), and the first fix's sky is the
// file's first GSV, the hidden satellites without an SNR.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/progress.hpp"
#include "nmea/sky_sentences.hpp"
#include "route/route.hpp"
#include "street/street_choices.hpp"
#include "test_support.hpp"

namespace trajix::route {
namespace {

// Down West Street through the Battery Park Underpass, then east among the towers.
constexpr const char* drive =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
    "<Placemark><name>fidi</name><LineString><coordinates>"
    "-74.01535,40.7087,0 -74.0154267,40.7082794,0 -74.0155846,40.7078839,0 -74.0156213,40.7077505,0 "
    "-74.0156323,40.7076216,0 -74.0156171,40.7074936,0 -74.0155691,40.707372,0 -74.0154667,40.7072608,0 "
    "-74.0152333,40.7071139,0 -74.015121,40.7070406,0 -74.0150235,40.7069397,0 "
    "-74.0140,40.7066,0 -74.0125,40.7062,0 -74.0113,40.7057,0"
    "</coordinates></LineString></Placemark></Document></kml>\n";

TEST(StreetRoute, LostFixSamplesAreTheFilesQualityZeroFixes)
{
    test::TempDir dir;
    test::writeFileBytes(dir / "fidi.kml", drive);
    street::StreetChoices choices;
    choices.buildings = test::dataFile("street/lower-manhattan-cut.osm");
    for (const double stationary : {0.0, 3.0}) {
        RouteParameters parameters;
        parameters.outputRate = 5;
        parameters.stationaryStart = stationary;
        parameters.stationaryEnd = 0;
        parameters.startTime = 3600;
        parameters.dates.date = CalendarDate{2010, 7, 1};
        parameters.dates.sky = skyModelFor(test::dataFile("sky/brdc1820_0000-0400.10n"), *parameters.dates.date);
        parameters.dates.street = street::streetModelFor(choices);
        NullProgress progress;
        test::ScriptedPrompt prompt;
        RouteState state = LoadKML(dir / "fidi.kml", parameters, {}, progress, prompt);
        const std::vector<bool> lost = lostFixSamples(state, parameters);
        ASSERT_EQ(lost.size(), static_cast<std::size_t>(state.sampleCount));
        saveNMEA(state, parameters, dir / "street.nmea", progress);

        std::vector<bool> ggaLost;
        std::stringstream in(test::readFileBytes(dir / "street.nmea"));
        std::string line, firstGsv;
        while (std::getline(in, line)) {
            if (line.rfind("$GPGGA,", 0) == 0) ggaLost.push_back(line.find(",,,,,0,") != std::string::npos);
            if (line.rfind("$GPGSV,", 0) == 0 && ggaLost.size() == 1) firstGsv += line;
        }
        // The writings: the first sample as the stationary start, then one per sample,
        // then the run-out to a whole second repeating the last.
        // (counted as the writer counts them: 3 s at 5 Hz are 14 repeats of the double 0.2)
        const auto repeats = static_cast<std::size_t>(
            std::trunc(static_cast<long double>(stationary) / static_cast<long double>(1.0 / 5)));
        std::size_t at = 0, lostCount = 0;
        for (std::size_t j = 1; j < lost.size(); ++j) {
            const std::size_t writings = j == 1 ? repeats : 1;
            bool any = false;
            for (std::size_t r = 0; r < writings; ++r, ++at) {
                ASSERT_LT(at, ggaLost.size());
                any = any || ggaLost[at];
            }
            EXPECT_EQ(lost[j], any) << "sample " << j << " with " << stationary << " s at rest first";
            lostCount += lost[j];
        }
        EXPECT_GT(lostCount, 5u) << "the underpass takes the fix";
        EXPECT_LT(lostCount, lost.size() - 1) << "and it comes back";

        // The first fix's sky: the satellites of the first GSV, the hidden ones (NaN)
        // with an empty SNR.
        const auto sky = firstFixSky(state, parameters);
        ASSERT_TRUE(sky);
        for (const auto& satellite : sky->satellites) {
            char field[16];
            std::snprintf(field, sizeof field, ",%02d,%02d,%03d,", satellite.prn,
                          static_cast<int>(std::lround(satellite.elevation)),
                          static_cast<int>(std::lround(satellite.azimuth)) % 360);
            const auto found = firstGsv.find(field);
            ASSERT_NE(found, std::string::npos) << field << " in " << firstGsv;
            const char next = firstGsv[found + std::string(field).size()];
            EXPECT_EQ(std::isnan(satellite.cn0), next == ',' || next == '*') << field;
        }
        const FirstFix fix = firstFix(state, parameters);
        EXPECT_NEAR(fix.latitude, 40.7087, 1e-4);
        EXPECT_NEAR(fix.longitude, -74.01535, 1e-4);
    }
}

TEST(StreetRoute, FrameConversionsAreInverse)
{
    test::TempDir dir;
    test::writeFileBytes(dir / "fidi.kml", drive);
    RouteParameters parameters;
    NullProgress progress;
    test::ScriptedPrompt prompt;
    const RouteState state = LoadKML(dir / "fidi.kml", parameters, {}, progress, prompt);
    const FramePoint origin = toRouteFrame(state, 40.7087, -74.01535);
    EXPECT_NEAR(origin.east, 0, 1e-3);
    EXPECT_NEAR(origin.north, 0, 1e-3);
    const FramePoint end = toRouteFrame(state, 40.7057, -74.0113);
    EXPECT_NEAR(end.east, state.rawEast[state.rawCount], 0.01);
    EXPECT_NEAR(end.north, state.rawNorth[state.rawCount], 0.01);
    const auto [lat, lon] = fromRouteFrame(state, end.east, end.north);
    EXPECT_NEAR(lat, 40.7057, 1e-8);
    EXPECT_NEAR(lon, -74.0113, 1e-8);
}

}  // namespace
}  // namespace trajix::route
