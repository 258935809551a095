#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.hpp"

using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::runTrajix;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

// An NMEA reader that shares no code with the writer: checks the frame and checksum
// of every sentence, the field counts, and that GGA times step by one interval.
constexpr const char* independentChecker = R"(
import re, sys
data = open(sys.argv[1], 'rb').read().decode('ascii')
step = round(100 / float(sys.argv[2]))
assert data.endswith('\r\n'), 'no CR LF at the end'
lines = data.split('\r\n')[:-1]
previous = None
count = 0
for number, line in enumerate(lines, 1):
    m = re.fullmatch(r'\$([^*$]*)\*([0-9A-F]{2})', line)
    assert m, f'line {number}: not a sentence: {line!r}'
    body, given = m.group(1), int(m.group(2), 16)
    x = 0
    for c in body: x ^= ord(c)
    assert x == given, f'line {number}: checksum {given:02X}, computed {x:02X}'
    f = body.split(',')
    if f[0] == 'GPGGA':
        assert len(f) == 15, f'line {number}: {len(f)} GGA fields'
        t = f[1]
        centis = (int(t[:-7]) * 3600 + int(t[-7:-5]) * 60) * 100 + round(float(t[-5:]) * 100)
        if previous is not None and centis - previous != step:
            raise AssertionError(f'line {number}: time step {centis - previous} cs')
        previous = centis
        lat, lon = float(f[2]), float(f[4])
        assert f[3] in 'NS' and f[5] in 'EW' and 0 <= lat < 9000 and 0 <= lon < 18000 and lat % 100 < 60 and lon % 100 < 60
        count += 1
    elif f[0] == 'GPVTG':
        assert len(f) == 10 and 0 <= float(f[1]) < 360 and abs(float(f[5]) * 1.852 - float(f[7])) < 0.01, line
    else:
        raise AssertionError(f'line {number}: unexpected {f[0]}')
assert count > 0
print(count)
)";

}  // namespace

TEST(RouteCommand, ExampleRoutePrintsTheTotalsAndWritesAFileAnIndependentReaderAccepts)
{
    TempDir dir;
    const auto out = dir / "loop.txt";
    auto r = runTrajix({"route", dataFile("../../examples/loop.kml").string(), "-o", out.string(), "--vtg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Scenario distance = 2.80 km\nTotal time = 194.25s\n");
    // The accelerations reached go to stderr, so that stdout keeps its two lines.
    EXPECT_NE(r.err.find("Max lateral acceleration = 1.00 g, max longitudinal acceleration = 1.00 g\n"),
              std::string::npos)
        << r.err;
    writeFileBytes(dir / "check.py", independentChecker);
    const std::string python = "/usr/bin/python3";
    TRAJIX_REQUIRE_TOOLS(python);
    auto check = runProgram(python, {(dir / "check.py").string(), out.string(), "20"});
    EXPECT_EQ(check.exitCode, 0) << check.err;

    // Another rate, options with their values, no VTG.
    // clang-format off
    auto r5 = runTrajix({"route", dataFile("route/corner.kml").string(), "-o", out.string(), "--rate", "4",
                         "--speed", "50", "--latacc", "0.5", "--longacc", "0.3", "--jerk", "0.5", "--smooth", "20",
                         "--stationary-start", "3", "--stationary-end", "2", "--start-time", "43200"});
    // clang-format on
    ASSERT_EQ(r5.exitCode, 0) << r5.err;
    check = runProgram(python, {(dir / "check.py").string(), out.string(), "4"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(readFileBytes(out).substr(0, 17), "$GPGGA,120000.00,");
}

TEST(RouteCommand, BadInputFailsWithAMessageAndLeavesTheOutputAlone)
{
    TempDir dir;
    const auto out = dir / "out.txt";
    writeFileBytes(out, "keep me");
    writeFileBytes(dir / "points.kml",
                   "<kml><Placemark><Point><coordinates>1,2,0</coordinates></Point></Placemark></kml>");
    writeFileBytes(dir / "route.kmz", std::string("PK\x03\x04\x14\x00", 6));
    writeFileBytes(dir / "garbage.kml", "<LineString><coordinates>1,2,0 3,x4,0</coordinates>");
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;
    };
    const std::string loop = dataFile("../../examples/loop.kml").string();
    const Case cases[] = {
        {{(dir / "missing.kml").string()}, "missing.kml"},
        {{(dir / "points.kml").string()}, "1 Point"},
        {{(dir / "route.kmz").string()}, "KMZ"},
        {{(dir / "garbage.kml").string()}, "'x4' is not a valid floating point value"},
        {{loop, "--speed", "0"}, "max speed"},
        {{loop, "--latacc", "-1"}, "lateral"},
        {{loop, "--rate", "0"}, "rate"},
        {{loop, "--smooth", "0"}, "smoothing"},
        {{loop, "--stationary-start", "2.5"}, "stationary start"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"route"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        arguments.insert(arguments.end(), {"-o", out.string()});
        auto r = runTrajix(arguments);
        EXPECT_EQ(r.exitCode, 1) << c.expected;
        EXPECT_NE(r.err.find("trajix: error: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(readFileBytes(out), "keep me") << c.expected;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);  // no stray temporaries

    EXPECT_EQ(runTrajix({"route", loop}).exitCode, 2);  // no -o
    EXPECT_EQ(runTrajix({"route", loop, "-o", out.string(), "--speed", "fast"}).exitCode, 2);
}

TEST(RouteCommand, JerkBelowTheFloorIsAcceptedNotRefused)
{
    TempDir dir;
    auto r = runTrajix({"route", dataFile("../../examples/loop.kml").string(), "-o", (dir / "o.txt").string(), "--jerk",
                        "0", "--stationary-start", "1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // At the floor jerk no S-curve to the maximum speed and back fits in 219 m; the route
    // is driven at the fastest peak that does (it was once refused for want of a moving
    // sample).
    r = runTrajix({"route", dataFile("route/straight.kml").string(), "-o", (dir / "o.txt").string(), "--jerk", "0"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(readFileBytes(dir / "o.txt").size(), 0u);
}
