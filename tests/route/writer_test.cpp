#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "route/route.hpp"
#include "test_support.hpp"

using namespace trajix::route;
using trajix::NullProgress;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::ScriptedPrompt;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string field(const std::string& line, int index)
{
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) start = line.find(',', start) + 1;
    return line.substr(start, line.find_first_of(",*", start) - start);
}

struct RouteRun {
    RouteState state;
    std::string nmea;
    std::vector<std::string> messages;
};

RouteRun runRoute(const std::filesystem::path& kml, const RouteParameters& parameters)
{
    TempDir dir;
    NullProgress progress;
    ScriptedPrompt prompt;
    RouteRun run;
    run.state = LoadKML(kml, parameters, dir / "out.txt", progress, prompt);
    run.nmea = readFileBytes(dir / "out.txt");
    run.messages = prompt.messages;
    return run;
}

RouteRun runKmlText(const std::string& kml, const RouteParameters& parameters)
{
    TempDir dir;
    writeFileBytes(dir / "in.kml", kml);
    return runRoute(dir / "in.kml", parameters);
}

std::string lineString(const std::string& coordinates)
{
    return "<kml><Placemark><LineString><coordinates>" + coordinates + "</coordinates></LineString></Placemark></kml>";
}

void expectGolden(const std::string& name, const RouteParameters& parameters)
{
    const RouteRun run = runRoute(dataFile("route/" + name + ".kml"), parameters);
    const auto expectedPath = dataFile("route/" + name + ".nmea");
    if (std::getenv("TRAJIX_REGENERATE_GOLDEN")) writeFileBytes(expectedPath, run.nmea);
    EXPECT_TRUE(run.nmea == readFileBytes(expectedPath)) << name << " differs from its golden file";
}

}  // namespace

TEST(RouteWriter, GoldenFilesMatchByteForByte)
{
    RouteParameters straight;  // 3-number tuples, VTG, 10 Hz, short rests
    straight.writeVtg = true;
    straight.outputRate = 10;
    straight.stationaryStart = 2;
    straight.stationaryEnd = 1;
    expectGolden("straight", straight);
    RouteParameters corner;  // a waypoint before the path, 2-number tuples, past midnight
    corner.outputRate = 5;
    corner.stationaryStart = 1;
    corner.stationaryEnd = 1;
    corner.maxSpeedKmh = 60;
    corner.startTime = 86390;
    expectGolden("corner", corner);
}

TEST(RouteWriter, EightySecondsAt20HzRepeatTheFirstSample1599Times)
{
    RouteParameters p;  // defaults: 80 s start, 5 s end, 20 Hz
    const RouteRun run = runRoute(dataFile("route/straight.kml"), p);
    const auto lines = linesOf(run.nmea);
    ASSERT_GT(lines.size(), 1700u);
    const std::string first = lines[0].substr(17, 50);
    std::size_t same = 0;
    while (same < lines.size() && lines[same].substr(17, 50) == first) ++same;
    EXPECT_EQ(same, 1599u);
    EXPECT_EQ(field(lines[0], 1), "090000.00");
    EXPECT_EQ(field(lines[1598], 1), "090119.90");
    // The end: 99 repetitions of the last moving sample, then the run-out to the next
    // whole second, every group one interval after the one before.
    const std::string last = lines.back().substr(17, 50);
    std::size_t tail = 0;
    while (lines[lines.size() - 1 - tail].substr(17, 50) == last) ++tail;
    const std::string endTime = field(lines.back(), 1);
    EXPECT_EQ(endTime.substr(6), ".00");
    const std::size_t runOut = tail - 1 - 99;  // the last moving sample itself, then 99
    EXPECT_GE(runOut, 1u);
    EXPECT_LE(runOut, 20u);
}

TEST(RouteWriter, StationaryGroupsReportZeroSpeedAndVtgFollowsTheSwitch)
{
    RouteParameters p;
    p.writeVtg = true;
    p.stationaryStart = 2;
    const RouteRun run = runRoute(dataFile("route/straight.kml"), p);
    const auto lines = linesOf(run.nmea);
    ASSERT_EQ(lines.size() % 2, 0u);
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        ASSERT_EQ(lines[i].rfind("$GPGGA,", 0), 0u) << i;
        ASSERT_EQ(lines[i + 1].rfind("$GPVTG,", 0), 0u) << i;
    }
    // 2 s at 20 Hz: 39 groups at rest, then motion.
    EXPECT_EQ(field(lines[2 * 38 + 1], 7), "000.000");
    EXPECT_EQ(field(lines.back(), 5), "000.000");
    EXPECT_EQ(field(lines.back(), 7), "000.000");
    bool moving = false;
    for (std::size_t i = 1; i < lines.size(); i += 2) moving |= field(lines[i], 7) > "010.000";
    EXPECT_TRUE(moving);

    p.writeVtg = false;
    const RouteRun plain = runRoute(dataFile("route/straight.kml"), p);
    EXPECT_EQ(plain.nmea.find("$GPVTG"), std::string::npos);
    EXPECT_EQ(linesOf(plain.nmea).size(), lines.size() / 2);
}

TEST(RouteWriter, LatitudeZeroIsSouthAndLongitudeZeroIsEast)
{
    RouteParameters p;
    p.stationaryStart = 1;
    p.stationaryEnd = 0;
    const RouteRun run = runRoute(dataFile("route/equator.kml"), p);
    for (const auto& line : linesOf(run.nmea)) {
        EXPECT_EQ(field(line, 2), "0000.00000000");
        EXPECT_EQ(field(line, 3), "S");
        EXPECT_EQ(field(line, 5), "E");
    }
}

TEST(RouteWriter, HoursRunPast24)
{
    RouteParameters p;
    p.startTime = 86390;
    p.stationaryStart = 9;
    const auto lines = linesOf(runRoute(dataFile("route/straight.kml"), p).nmea);
    EXPECT_EQ(field(lines.front(), 1), "235950.00");
    EXPECT_EQ(field(lines.back(), 1).substr(0, 4), "2400");
}

TEST(RouteWriter, TwoPointsFarApartAreOneStraightStretch)
{
    RouteParameters p;
    p.stationaryStart = 1;
    p.stationaryEnd = 1;
    const RouteRun run = runKmlText(lineString("7.0,46.0 7.0,46.02"), p);
    EXPECT_EQ(run.state.corners.size(), 2u);
    // The whole smoothed path is driven (the smoothing pulls each end in by some 8 m).
    EXPECT_NEAR(run.state.routeDistance, run.state.pathDistance[run.state.pathCount - 1], 0.1);
    EXPECT_NEAR(run.state.routeDistance, 2224, 20);
    EXPECT_TRUE(run.messages.empty());
}

TEST(RouteWriter, RouteWithoutAMovingSampleWritesNothing)
{
    TempDir dir;
    writeFileBytes(dir / "short.kml", lineString("7.0,46.0 7.0,46.0000001 7.0,46.0000002"));
    writeFileBytes(dir / "out.txt", "precious");
    NullProgress progress;
    ScriptedPrompt prompt;
    RouteParameters p;
    EXPECT_THROW(LoadKML(dir / "short.kml", p, dir / "out.txt", progress, prompt), trajix::Error);
    EXPECT_EQ(readFileBytes(dir / "out.txt"), "precious");
    // A path long enough to densify but with no stretch a vehicle can drive at these limits
    p.maxSpeedKmh = 0.01;
    writeFileBytes(dir / "tiny.kml", lineString("7.0,46.0 7.0,46.0001"));
    EXPECT_THROW(LoadKML(dir / "tiny.kml", p, dir / "out.txt", progress, prompt), trajix::Error);
    EXPECT_EQ(readFileBytes(dir / "out.txt"), "precious");
}

// Speeds, accelerations and the lateral acceleration at the corners stay within the
// limits on the drawn example loop, and it starts and ends at rest.
TEST(RoutePhysics, ExampleLoopKeepsItsLimits)
{
    RouteParameters p;
    p.maxSpeedKmh = 80;
    p.maxLatAccG = 0.3;
    p.maxLongAccG = 0.2;
    p.stationaryStart = 1;
    const RouteRun run = runRoute(dataFile("../../examples/loop.kml"), p);
    const RouteState& s = run.state;
    EXPECT_TRUE(run.messages.empty()) << run.messages.front();
    ASSERT_GT(s.sampleCount, 100);
    const double dt = s.outputInterval;
    const auto n = static_cast<std::size_t>(s.sampleCount);
    EXPECT_LT(s.sampleSpeed.front(), 0.01);
    EXPECT_LT(s.sampleSpeed.back(), 0.05);
    double maxSpeed = 0, maxLong = 0;
    for (std::size_t j = 1; j < n; ++j) {
        maxSpeed = std::max(maxSpeed, s.sampleSpeed[j]);
        maxLong = std::max(maxLong, std::fabs(s.sampleSpeed[j] - s.sampleSpeed[j - 1]) / dt);
    }
    EXPECT_LE(maxSpeed, s.maxSpeed * 1.0001);
    EXPECT_LE(maxLong, s.maxLongAcc * 1.01);
    // Lateral acceleration from three consecutive positions: v^2 / circumradius.
    double worst = 0;
    for (const Corner& c : s.corners) {
        if (c.cornerSpeed == 0) continue;
        for (std::size_t j = 2; j + 1 < n; ++j) {
            if (std::fabs(s.sampleDistance[j] - c.cornerDistance) > 1.0) continue;
            const double ax = s.sampleEast[j - 1], ay = s.sampleNorth[j - 1], bx = s.sampleEast[j],
                         by = s.sampleNorth[j], cx = s.sampleEast[j + 1], cy = s.sampleNorth[j + 1];
            const double ab = std::hypot(bx - ax, by - ay), bc = std::hypot(cx - bx, cy - by),
                         ca = std::hypot(ax - cx, ay - cy);
            const double cross = std::fabs((bx - ax) * (cy - ay) - (by - ay) * (cx - ax));
            const double radius = ab * bc * ca / (2 * cross);
            worst = std::max(worst, s.sampleSpeed[j] * s.sampleSpeed[j] / radius);
        }
    }
    EXPECT_GT(worst, 0.5 * s.maxLatAcc);  // the corners are tight enough to matter
    EXPECT_LE(worst, s.maxLatAcc * 1.15) << "worst lateral acceleration " << worst;
}

// Restarting the sample clock at each stretch once dropped the part interval left at
// every corner: the written speed dipped for one sample and the file ran short.
TEST(RoutePhysics, NoSpeedDipAtCorners)
{
    RouteParameters p;
    p.stationaryStart = 1;
    p.writeVtg = true;
    const RouteRun run = runRoute(dataFile("../../examples/loop.kml"), p);
    ASSERT_GT(run.state.corners.size(), 3u);
    const auto lines = linesOf(run.nmea);
    double previous = 0, worstJump = 0;
    for (std::size_t i = 1; i < lines.size(); i += 2) {
        const double kmh = std::stod(field(lines[i], 7));
        if (i > 1) worstJump = std::max(worstJump, std::fabs(kmh - previous));
        previous = kmh;
    }
    // 1 g for 0.05 s is 1.77 km/h; allow the 0.1 m path quantisation on top.
    EXPECT_LT(worstJump, 3.0);
    // The driven time is the sample count: no part interval is lost at the corners.
    std::int64_t steps = run.state.stepCount;
    EXPECT_EQ(run.state.sampleCount, (steps + 499) / 500);
}

TEST(RoutePreview, ChartsAndCaptionsGoThroughTheCallbacksAndNothingIsWritten)
{
    TempDir dir;
    NullProgress progress;
    ScriptedPrompt prompt;
    RouteParameters p;
    p.stationaryStart = 2.5;  // the preview accepts what only the writer refuses
    int raw = 0, smoothed = 0, speeds = 0;
    double lastTime = -1;
    std::string distance, time;
    RouteCallbacks callbacks;
    callbacks.rawPoint = [&](double, double) { ++raw; };
    callbacks.smoothedPoint = [&](double, double) { ++smoothed; };
    callbacks.speedPoint = [&](double t, double) {
        EXPECT_GT(t, lastTime);
        lastTime = t;
        ++speeds;
    };
    callbacks.totals = [&](const std::string& d, const std::string& t) {
        distance = d;
        time = t;
    };
    const RouteState state = LoadKML(dataFile("route/corner.kml"), p, {}, progress, prompt, callbacks);
    EXPECT_EQ(raw, 4);
    EXPECT_EQ(smoothed, static_cast<int>((state.pathCount + 49) / 50));
    EXPECT_EQ(speeds, state.sampleCount);
    EXPECT_EQ(distance, state.distanceText);
    EXPECT_EQ(distance.rfind("Scenario distance = .", 0), 0u);
    EXPECT_EQ(time.rfind("Total time = ", 0), 0u);
    EXPECT_EQ(time.back(), 's');
    EXPECT_NEAR(std::stod(time.substr(13)), 2.5 + 5 + state.sampleCount / 20.0, 0.005);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}
