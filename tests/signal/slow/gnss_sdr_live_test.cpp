// The live path end to end, on loopback: trajix replay serves a drive made by trajix
// route, TrajixBinary follows it in real time into an 8-bit I/Q recording, and GNSS-SDR
// navigates along the drive at the drive's own times.
#include <cmath>
#include <regex>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "../../replay/background.hpp"
#include "gnss_sdr_support.hpp"
#include "scenario/plenarch.hpp"
#include "test_support.hpp"
#include "tests/scenario/scenario_fixtures.hpp"

using namespace trajix;
using namespace trajix::test;

namespace {

struct RoutePoint {
    double secondsOfDay;
    Ecef position;
};

// The GGA fixes of an NMEA file (times within one day), as a live reader takes them: the
// altitude plus the geoid separation above the ellipsoid.
std::vector<RoutePoint> routeOf(const std::filesystem::path& file)
{
    std::vector<RoutePoint> points;
    const std::regex gga(
        R"(^\$GPGGA,(\d\d)(\d\d)(\d\d\.\d+),(\d\d)(\d\d\.\d+),([NS]),(\d{3})(\d\d\.\d+),([EW]),1,\d+,[^,]*,([-\d.]+),M,([-\d.]+),M)");
    std::istringstream in(readFileBytes(file));
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!std::regex_search(line, m, gga)) continue;
        const double latitude = (std::stod(m[4]) + std::stod(m[5]) / 60) * (m[6] == "S" ? -1 : 1);
        const double longitude = (std::stod(m[7]) + std::stod(m[8]) / 60) * (m[9] == "W" ? -1 : 1);
        points.push_back({std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stod(m[3]),
                          geodeticToEcef(latitude, longitude, std::stod(m[10]) + std::stod(m[11]))});
    }
    return points;
}

Ecef interpolate(const std::vector<RoutePoint>& route, double secondsOfDay)
{
    if (secondsOfDay <= route.front().secondsOfDay) return route.front().position;
    if (secondsOfDay >= route.back().secondsOfDay) return route.back().position;
    const auto next = std::upper_bound(route.begin(), route.end(), secondsOfDay,
                                       [](double t, const RoutePoint& p) { return t < p.secondsOfDay; });
    const RoutePoint &a = *(next - 1), &b = *next;
    const double s = (secondsOfDay - a.secondsOfDay) / (b.secondsOfDay - a.secondsOfDay);
    return {a.position.x + (b.position.x - a.position.x) * s, a.position.y + (b.position.y - a.position.y) * s,
            a.position.z + (b.position.z - a.position.z) * s};
}

}  // namespace

// 13 April 2025 is the first day of GPS week 2362 (the almanac's week 314), 18 leap
// seconds after UTC. The drive waits 35 s, then goes 220 m at up to 36 km/h; it starts
// at 08:59:23 UTC, so the signal starts 32381.5 s into the week, or a little later for
// the time the generator takes to connect: 18.5 s before a frame or less, and the
// receiver fixes (with subframes 1-3) before the last 20 s, while the receiver moves.
TEST(GnssSdrNavigation, LiveDriveFromTrajixReplayInRealTime)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/timeout");
    constexpr double leapSeconds = 18;
    TempDir dir;
    const auto tools =
        writeWeek314Profile(dir.path(), fmt::format("{}", startSeconds), fmt::format("{}", durationSeconds));
    const auto routed = runTrajix({"route",      dataFile("route/straight.kml").string(),
                                   "-o",         (dir / "drive.nmea").string(),
                                   "--rmc",      "--date",
                                   "2025-04-13", "--start-time",
                                   "32363",      "--rate",
                                   "10",         "--speed",
                                   "36",         "--latacc",
                                   "0.1",        "--longacc",
                                   "0.1",        "--stationary-start",
                                   "35",         "--stationary-end",
                                   "30"});
    ASSERT_EQ(routed.exitCode, 0) << routed.err;
    const std::vector<RoutePoint> route = routeOf(dir / "drive.nmea");
    ASSERT_GT(route.size(), 900u);

    Background replay(
        {(toolFolder / "trajix").string(), "replay", (dir / "drive.nmea").string(), "--tcp", "127.0.0.1:0"}, true);
    const std::string served = replay.readLine();
    ASSERT_EQ(served.rfind("tcp://127.0.0.1:", 0), 0u) << served;
    const auto recording = dir / "live.iq";
    const auto generated =
        runProgram("/usr/bin/timeout",
                   {"-k", "5", "120", (toolFolder / "TrajixBinary").string(), "--iq-format", "IQ", "--bits-per-sample",
                    "8", "--sample-rate-khz", "2600", "--if-hz", "0", "--output", recording.string(), "--live", served,
                    "--realtime", "--duration-limited", (tools / "profile.txt").string()});
    replay.stop();
    ASSERT_EQ(generated.exitCode, 0) << generated.err;
    EXPECT_EQ(std::filesystem::file_size(recording), durationSeconds * 2600000u * 2u);

    // The stream's time and date, from the first fix on: the signal starts half a second
    // after a fix of the drive (whole tenths of a second), in GPS time, give or take the
    // moments between the fix's arrival and the start's reckoning.
    std::smatch start;
    const std::regex starts(R"(the signal starts at GPS week (\d+) second ([\d.]+), the stream's time)");
    ASSERT_TRUE(std::regex_search(generated.out, start, starts)) << generated.out;
    const Timing timing{std::stoi(start[1]), std::stod(start[2]), durationSeconds};
    EXPECT_EQ(timing.week, 2362);
    const double firstFix = timing.start - leapSeconds - 0.5;
    const double sinceFix = firstFix - std::floor(firstFix * 10 + 1e-6) / 10;
    EXPECT_LT(sinceFix, 0.04) << timing.start;
    EXPECT_GE(firstFix, route.front().secondsOfDay);
    EXPECT_LT(firstFix, route.front().secondsOfDay + 10);

    std::filesystem::create_directories(dir / "receiver");
    const ReceiverRun run = runReceiverOn(recording, iq8Configuration, dir / "receiver");
    checkNavigation(
        run, generatedSatellites(generated.out),
        [&](double elapsed) { return interpolate(route, timing.start + elapsed - leapSeconds); }, timing);
}
