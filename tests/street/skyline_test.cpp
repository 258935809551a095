// The skyline against the plain blocked() query: in every direction the sky is blocked
// just below the skyline's elevation and clear just above it, at places among the
// Lower Manhattan towers; and the few places with no sky at all.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/error.hpp"
#include "street/street_choices.hpp"
#include "street/street_model.hpp"
#include "test_support.hpp"

namespace trajix::street {
namespace {

TEST(Skyline, BlockedJustBelowAndClearJustAboveInEveryDirection)
{
    const auto model = StreetModel::fromFile(test::dataFile("street/lower-manhattan-cut.osm"), {}, {});
    double minEast = 1e9, maxEast = -1e9, minNorth = 1e9, maxNorth = -1e9;
    for (const auto& w : model.walls()) {
        minEast = std::min<double>(minEast, w.ax), maxEast = std::max<double>(maxEast, w.ax);
        minNorth = std::min<double>(minNorth, w.ay), maxNorth = std::max<double>(maxNorth, w.ay);
    }
    std::mt19937 random(37);
    std::uniform_real_distribution<double> east(minEast + 50, maxEast - 50), north(minNorth + 50, maxNorth - 50);
    constexpr double step = 2, margin = 0.02;
    int places = 0, high = 0, open = 0;
    while (places < 8) {
        const Place place{{east(random), north(random)}, false};
        if (model.blocked(place.point, 0, 89.9)) continue;  // indoors or under a raised building
        ++places;
        const std::vector<double> skyline = model.skyline(place, step);
        ASSERT_EQ(skyline.size(), 180u);
        for (std::size_t k = 0; k < skyline.size(); ++k) {
            const double azimuth = static_cast<double>(k) * step, elevation = skyline[k];
            SCOPED_TRACE(testing::Message() << "at " << place.point.east << ", " << place.point.north << " az "
                                            << azimuth << " skyline " << elevation);
            ASSERT_GE(elevation, 0);
            ASSERT_LT(elevation, 90);
            EXPECT_FALSE(model.blocked(place.point, azimuth, elevation + margin));
            if (elevation > margin) {
                EXPECT_TRUE(model.blocked(place.point, azimuth, elevation - margin));
                high += elevation > 30;
            } else {
                ++open;
            }
        }
    }
    // Among the towers most directions are walled in, some high.
    EXPECT_GT(high, 50);
    RecordProperty("open", open);
}

TEST(Skyline, NoSkyUnderATunnelOrInsideABuilding)
{
    const auto model = StreetModel::fromFile(test::dataFile("street/lower-manhattan-cut.osm"), {}, {});
    // The Battery Park Underpass, driven along it; and the middle of a footprint.
    const Place tunnel = model.place(40.7076216, -74.0156323, 200.0);
    ASSERT_TRUE(tunnel.covered);
    for (const double elevation : model.skyline(tunnel, 10)) EXPECT_EQ(elevation, 90);
    for (const auto& footprint : model.footprints()) {
        if (footprint.low > 0 || footprint.high < 3) continue;
        LocalPoint centre{0, 0};
        const FootprintRing outer = model.rings(footprint).front();
        for (const auto& p : outer) centre.east += p.east, centre.north += p.north;
        centre.east /= static_cast<double>(outer.size());
        centre.north /= static_cast<double>(outer.size());
        if (!model.blocked(centre, 0, 89.9)) continue;
        const Place inside{centre, false};
        const auto skyline = model.skyline(inside, 45);
        ASSERT_EQ(skyline.size(), 8u);
        for (const double elevation : skyline) EXPECT_EQ(elevation, 90);
        break;
    }
}

TEST(Skyline, GeographicIsLocalsInverse)
{
    const auto model = StreetModel::fromFile(test::dataFile("street/lower-manhattan-cut.osm"), {}, {});
    for (const auto& [lat, lon] :
         {std::pair{40.7076, -74.0156}, std::pair{40.7130, -74.0060}, std::pair{40.70, -74.02}}) {
        const LonLat back = model.geographic(model.local(lat, lon));
        EXPECT_NEAR(back.lat, lat, 1e-9);
        EXPECT_NEAR(back.lon, lon, 1e-9);
    }
}

TEST(StreetChoices, ValuesOutOfRangeAreRefusedBeforeTheFileIsRead)
{
    EXPECT_EQ(streetModelFor({}), nullptr);
    const auto missing = std::filesystem::path("/nonexistent/city.osm");
    StreetChoices low, negative, loud;
    low.buildings = negative.buildings = loud.buildings = missing;
    low.defaultBuildingHeight = 0.0;
    negative.antennaHeight = -1.0;
    loud.reflectionLoss = 61.0;
    for (const StreetChoices& bad : {low, negative, loud}) {
        try {
            streetModelFor(bad);
            ADD_FAILURE() << "accepted";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()).find("/nonexistent"), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace trajix::street
