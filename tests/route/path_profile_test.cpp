#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/error.hpp"
#include "route/route.hpp"
#include "test_support.hpp"

using namespace trajix::route;
using trajix::NullProgress;
using trajix::test::ScriptedPrompt;

namespace {

// Degrees of latitude per metre near 50 N, for building KML points a given distance apart.
constexpr double degreesPerMetre = 1.0 / 111200.0;

RouteState stateFor(const RouteParameters& parameters = {})
{
    RouteState state;
    applyParameters(state, parameters, false);
    return state;
}

// A path given directly in local metres, measured as the pipeline would.
RouteState measuredPath(const std::vector<std::pair<double, double>>& points, const RouteParameters& parameters = {})
{
    RouteState state = stateFor(parameters);
    state.pathCount = points.size();
    state.pathEast.assign(points.size() + 1, 0);
    state.pathNorth.assign(points.size() + 1, 0);
    for (std::size_t i = 0; i < points.size(); ++i) {
        state.pathEast[i + 1] = points[i].first;
        state.pathNorth[i + 1] = points[i].second;
    }
    NullProgress progress;
    calculateDistances(state, progress);
    calculateDeflections(state, progress);
    return state;
}

std::vector<std::pair<double, double>> straight(int count, double spacing)
{
    std::vector<std::pair<double, double>> points;
    for (int i = 0; i < count; ++i) points.emplace_back(i * spacing, 0.0);
    return points;
}

}  // namespace

TEST(RoutePath, SpacingSwitchesToOneMetreBeyond500Kilometres)
{
    RouteState near = stateFor();
    loadRawPoints(near, {{10.0, 50.0}, {10.0, 50.0 + 400000 * degreesPerMetre}}, {});
    EXPECT_EQ(near.interpSpacing, 0.1);
    RouteState far = stateFor();
    loadRawPoints(far, {{10.0, 50.0}, {10.0, 50.0 + 520000 * degreesPerMetre}}, {});
    EXPECT_EQ(far.interpSpacing, 1.0);
    // A loop whose end comes back to the start stays at 0.1 m however long it is.
    RouteState loop = stateFor();
    loadRawPoints(loop, {{10.0, 50.0}, {10.0, 54.0}, {10.0, 50.0}}, {});
    EXPECT_EQ(loop.interpSpacing, 0.1);
}

TEST(RoutePath, DensifyingStepsEachSegmentAndDropsTheLastKmlPoint)
{
    RouteState state = stateFor();
    state.rawCount = 3;
    state.rawEast = {0, 0, 1.05f, 1.05f};
    state.rawNorth = {0, 0, 0, 0.05f};  // second segment shorter than one spacing
    state.rawUp = {0, 0, 0, 0};
    state.interpSpacing = 0.1;
    NullProgress progress;
    densifyPath(state, progress);
    // trunc(1.05 / 0.1) = 10 steps from 0; the 0.05 m segment only stores its start,
    // which is then not counted.
    ASSERT_EQ(state.pathCount, 10u);
    EXPECT_NEAR(state.pathEast[10], 0.945, 1e-6);
    // Altitude of the KML points plays no part: up is densified but never read again.
    state.rawCount = 2;
    state.rawEast = {0, 0, 0.15f};
    state.rawNorth = {0, 0, 0};
    state.rawUp = {0, 0, 0};
    EXPECT_THROW(densifyPath(state, progress), trajix::Error);  // one step is too short to drive
}

TEST(RoutePath, SmoothingFactorOneLeavesThePathAndHundredRoundsACorner)
{
    RouteParameters one;
    one.smoothFactor = 1;
    RouteState state = stateFor(one);
    state.pathCount = 200;
    state.pathEast.assign(201, 0);
    state.pathNorth.assign(201, 0);
    for (int i = 1; i <= 200; ++i) {
        state.pathEast[i] = i <= 100 ? i * 0.1 : 10.0;
        state.pathNorth[i] = i <= 100 ? 0.0 : (i - 100) * 0.1;
    }
    const auto east = state.pathEast, north = state.pathNorth;
    int chartPoints = 0;
    RouteCallbacks callbacks;
    callbacks.smoothedPoint = [&](double, double) { ++chartPoints; };
    NullProgress progress;
    smoothPath(state, progress, callbacks);
    EXPECT_EQ(state.pathEast, east);
    EXPECT_EQ(state.pathNorth, north);
    EXPECT_EQ(chartPoints, 4);  // 200, 150, 100, 50

    state.smoothFactor = 100;
    smoothPath(state, progress, {});
    // The corner at (10, 0) is cut: the smoothed point lies well inside it.
    EXPECT_LT(state.pathEast[100], 9.5);
    EXPECT_GT(state.pathNorth[100], 0.5);

    state.pathCount = 40;
    chartPoints = 0;
    smoothPath(state, progress, callbacks);
    EXPECT_EQ(chartPoints, 1);
}

TEST(RouteCorners, StraightPathHasOnlyStartAndEnd)
{
    RouteState state = measuredPath(straight(1000, 0.1));
    NullProgress progress;
    findCorners(state, progress);
    ASSERT_EQ(state.corners.size(), 2u);
    EXPECT_EQ(state.corners[1].cornerIndex, 999);
    EXPECT_NEAR(state.corners[1].cornerDistance, 998 * 0.1 + 0.0001, 1e-9);
}

TEST(RouteCorners, GentleBendIsCappedAtA500MetreCircle)
{
    // 0.01 degree of turn every 0.1 m is a 3600 m circle: capped to 500 m, whose speed
    // sqrt(500 / 2 pi * g) = 100.4 km/h is above 90 km/h but below 110 km/h.
    std::vector<std::pair<double, double>> points;
    double heading = 0, x = 0, y = 0;
    for (int i = 0; i < 400; ++i) {
        points.emplace_back(x, y);
        heading += (i == 200 ? 0.02 : 0.01) * 3.141592653589793 / 180;
        x += 0.1 * std::cos(heading);
        y += 0.1 * std::sin(heading);
    }
    RouteParameters fast;
    fast.maxSpeedKmh = 110;
    RouteState state = measuredPath(points, fast);
    NullProgress progress;
    findCorners(state, progress);
    ASSERT_GE(state.corners.size(), 3u);
    EXPECT_NEAR(state.corners[1].cornerSpeed, std::sqrt(500 / (2 * 3.141592653589793) * 9.81), 1e-9);
    RouteParameters slow;
    slow.maxSpeedKmh = 90;
    RouteState capped = measuredPath(points, slow);
    findCorners(capped, progress);
    EXPECT_EQ(capped.corners.size(), 2u);
}

TEST(RouteCorners, TightSpotsCloserThanElevenPointsGiveOnlyTheFirst)
{
    auto zigzag = [](int gap) {
        auto points = straight(300, 0.1);
        for (int i = 100; i < 300; ++i) points[static_cast<std::size_t>(i)].second = 0.01 * (i - 100);
        for (int i = 100 + gap; i < 300; ++i) points[static_cast<std::size_t>(i)].second += 0.02 * (i - 100 - gap);
        return points;
    };
    NullProgress progress;
    RouteState close = measuredPath(zigzag(10));
    findCorners(close, progress);
    RouteState apart = measuredPath(zigzag(11));
    findCorners(apart, progress);
    // start, the bends, the always-taken last inner point, end
    EXPECT_EQ(apart.corners.size(), close.corners.size() + 1);
    EXPECT_EQ(close.corners[1].cornerIndex, 101);  // the first bend, 1-based
}

TEST(RouteProfile, JerkBelowTheFloorIsRaised)
{
    RouteParameters soft;
    soft.maxJerkGs = 0.01;
    EXPECT_EQ(stateFor(soft).maxJerk, 0.981);
    soft.maxJerkGs = -3;
    EXPECT_EQ(stateFor(soft).maxJerk, 0.981);
}

TEST(RouteProfile, ZeroLimitsAreRefusedNamingTheField)
{
    auto refusal = [](RouteParameters p) {
        try {
            stateFor(p);
        } catch (const trajix::Error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    RouteParameters p;
    p.maxLongAccG = 0;
    EXPECT_NE(refusal(p).find("longitudinal"), std::string::npos);
    p = {};
    p.maxSpeedKmh = -5;
    EXPECT_NE(refusal(p).find("speed"), std::string::npos);
    p = {};
    p.smoothFactor = 0.9;
    EXPECT_NE(refusal(p).find("smoothing"), std::string::npos);
    p = {};
    p.outputRate = 0;
    EXPECT_NE(refusal(p).find("rate"), std::string::npos);
    p.outputRate = 20000;  // samples closer than one integration step
    EXPECT_NE(refusal(p).find("rate"), std::string::npos);
}

// Drives one stretch and returns where it ended; the planned distances must match
// the integration, or stretches overshoot their corners.
namespace {
struct Driven {
    double end = 0;
    std::vector<std::string> messages;
};
Driven drive(double length, double endSpeed, double startSpeed, const RouteParameters& parameters = {})
{
    RouteState state = stateFor(parameters);
    state.profile.maxJerk = state.maxJerk;
    state.profile.maxLongAcc = state.maxLongAcc;
    state.profile.peakSpeed = state.maxSpeed;
    calcDistance(state.profile, length, endSpeed, startSpeed);
    ScriptedPrompt prompt;
    plotSpeedProfile(state, length, endSpeed, startSpeed, {}, prompt);
    return {state.routeDistance, prompt.messages};
}
}  // namespace

TEST(RouteProfile, StretchesEndAtTheirCornerInEveryPlanShape)
{
    // Rise without trapezoid (the shape whose S3 was once a third too short), fall
    // without trapezoid, both trapezoids with cruise, both lowered, short and long.
    struct Case {
        double length, endSpeed, startSpeed;
    };
    const Case cases[] = {{3, 0, 0},   {20, 5, 0},   {20, 0, 5},     {2000, 0, 0}, {300, 10, 0},
                          {60, 12, 8}, {150, 20, 3}, {1000, 25, 25}, {40, 2, 2},   {500, 0, 27}};
    for (const Case& c : cases) {
        const Driven d = drive(c.length, c.endSpeed, c.startSpeed);
        EXPECT_NEAR(d.end, c.length, 0.1) << c.length << " " << c.endSpeed << " " << c.startSpeed;
        EXPECT_TRUE(d.messages.empty()) << c.length;
    }
    // Just long enough for a short S-curve rise and fall by the plan: a rise planned a
    // little short would let it start and overshoot the corner by a third of a metre.
    RouteParameters slow;
    slow.maxSpeedKmh = 43.2;
    const Driven d = drive(17.8, 8, 8, slow);
    EXPECT_NEAR(d.end, 17.8, 0.1);
    EXPECT_TRUE(d.messages.empty());
}

TEST(RouteProfile, RiseWithoutTrapezoidUsesTheThirdPowerOverThree)
{
    SegmentProfile p;
    p.maxJerk = 19.62;
    p.maxLongAcc = 9.81;
    p.peakSpeed = 4;
    p.jerkSpeedGain = 9.81 * 9.81 / (2 * 19.62);
    recalcS1S2S3(p, 0, 0);
    ASSERT_FALSE(p.accelTrapezoid);
    const double t = std::sqrt(4 / 19.62);
    EXPECT_NEAR(p.riseDistance, 4 * t, 1e-12);  // symmetric S-curve from 0 to 4 m/s covers vp * 2t / 2
}

TEST(RouteFeasibility, CornersAreLoweredNeverRaised)
{
    RouteState state = stateFor();
    // A slow corner after a short stretch from a fast one, and a fast corner right
    // after a slow one: every speed can only go down, the start stays at rest.
    state.corners = {{0, 0, 0}, {20, 100, 1000}, {3, 110, 1100}, {25, 130, 1300}, {0, 1000, 10000}};
    const auto before = state.corners;
    makeCornersFeasible(state);
    ASSERT_EQ(state.corners.size(), before.size());
    EXPECT_EQ(state.corners[0].cornerSpeed, 0);
    for (std::size_t k = 0; k < before.size(); ++k) EXPECT_LE(state.corners[k].cornerSpeed, before[k].cornerSpeed) << k;
    EXPECT_EQ(state.corners[2].cornerSpeed, 3);
    for (std::size_t k = 0; k + 1 < state.corners.size(); ++k) {
        const double length = state.corners[k + 1].cornerDistance - state.corners[k].cornerDistance;
        const Driven d = drive(length, state.corners[k + 1].cornerSpeed, state.corners[k].cornerSpeed);
        EXPECT_NEAR(d.end, length, 0.1) << k;
    }
}

TEST(RoutePath, PathsNeedingMoreThan4GiBAreRefusedBeforeAllocating)
{
    // Twice out and back a quarter of the equator (6378 km east in the flat frame):
    // the end is the start, so 0.1 m spacing over 25,500 km would need some 12 GB.
    RouteState state = stateFor();
    loadRawPoints(state, {{0, 0}, {90, 0}, {0, 0}, {90, 0}, {0, 0}}, {});
    try {
        densifiedPointCount(state);
        FAIL() << "accepted";
    } catch (const trajix::Error& e) {
        EXPECT_NE(std::string(e.what()).find("4 GiB"), std::string::npos) << e.what();
    }
}

TEST(RoutePath, ChartRangesAreSquaredByTheWholeMetreDifference)
{
    double minX = 0, maxX = 10, minY = -5, maxY = 8.7;  // ranges 10 and 13.7: difference 3 after truncation
    squareChartRanges(minX, maxX, minY, maxY);
    EXPECT_EQ(minX, -1.5);
    EXPECT_EQ(maxX, 11.5);
    EXPECT_EQ(minY, -5);
    EXPECT_EQ(maxY, 8.7);
}
