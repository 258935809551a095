// Every written sample of a route holds the speed, lateral and longitudinal limits, as
// measured from the written positions alone, over random drawn paths at several limits.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "limits_property.hpp"
#include "route/route.hpp"
#include "test_support.hpp"

using namespace trajix::route;
using namespace trajix::test;
using namespace trajix::test::limits;

TEST(RouteLimits, RandomDrawnPathsHoldEveryLimitAtEverySample)
{
    // 36 paths: each of the six kinds at each of the six limit sets, seeds fixed.
    expectRandomRoutesHoldLimits(36, 1);
}

// A plan that already holds the limits is written as before: the example loop's totals
// and corners do not move, and the check adds no corner to it.
TEST(RouteLimits, ARouteWithinTheLimitsGetsNoNewCorner)
{
    TempDir dir;
    trajix::NullProgress progress;
    ScriptedPrompt prompt;
    RouteParameters p;
    p.stationaryStart = 1;
    RouteState state = LoadKML(dataFile("../../examples/loop.kml"), p, dir / "out.txt", progress, prompt);
    const auto corners = state.corners;
    EXPECT_EQ(holdLateralLimit(state, progress), 0u);
    ASSERT_EQ(state.corners.size(), corners.size());
    for (std::size_t k = 0; k < corners.size(); ++k) EXPECT_EQ(state.corners[k].cornerSpeed, corners[k].cornerSpeed);
}

// With both ends at rest and a stretch too short for the S-curves to the maximum speed,
// the plan once lowered the peak to the end speed, 0, and refused the route. An S-curve
// from rest to v and back without a constant-acceleration phase covers 2 v sqrt(v / J),
// so the fastest peak in a stretch of length L is (L sqrt(J) / 2)^(2/3).
TEST(RouteLimits, ShortRouteAtGentleJerkIsDrivenAtTheFastestPeakThatFits)
{
    TempDir dir;
    trajix::NullProgress progress;
    ScriptedPrompt prompt;
    RouteParameters p;
    p.maxJerkGs = 0.1;
    p.stationaryStart = 1;
    const RouteState state = LoadKML(dataFile("route/straight.kml"), p, dir / "out.txt", progress, prompt);
    ASSERT_EQ(state.corners.size(), 2u);
    const double length = state.corners[1].cornerDistance;
    EXPECT_NEAR(length, 219, 5);
    const double peak = std::pow(length * std::sqrt(0.981) / 2, 2.0 / 3.0);
    double top = 0;
    for (double v : state.sampleSpeed) top = std::max(top, v);
    EXPECT_NEAR(top, peak, 0.01 * peak);
    EXPECT_NEAR(state.routeDistance, length, 0.1);
    EXPECT_TRUE(prompt.messages.empty());
    const Measured m = measureNmea(readFileBytes(dir / "out.txt"), p.outputRate);
    // The jerk alone bounds the acceleration: sqrt(v J) at the middle of each S-curve.
    EXPECT_LE(m.longitudinal, std::sqrt(peak * 0.981) * 1.015 + 0.02);
    EXPECT_GT(m.longitudinal, std::sqrt(peak * 0.981) * 0.9);
}
