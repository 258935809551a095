// trajix route --receiver-errors and --seed as a user runs them: the positions written
// are a receiver's, near the truth under the open sky and farther among the towers, the
// satellites and the fix stay what the street says, the same seed writes the same bytes
// and another seed other positions, and gpsd's decoder reads the positions as written.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace trajix {
namespace {

// Down West Street between the towers of the World Financial Center and the Financial
// District, to the mouth of the Battery Park Underpass.
const std::string driveKml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
    "<Placemark><name>west</name><LineString><coordinates>-74.01535,40.7087,0 -74.01543,40.70828,0"
    "</coordinates></LineString></Placemark></Document></kml>\n";

constexpr auto fields = test::nmeaFields;

struct Fix {
    std::string time;
    bool fixed = false;
    double latitude = 0, longitude = 0, altitude = 0;
};

struct File {
    std::vector<Fix> fixes;               // GGA's
    std::vector<Fix> rmc;                 // RMC's
    std::vector<std::string> satellites;  // every GSA and GSV line, and GGA's count and HDOP
};

File parse(const std::string& text)
{
    File file;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto f = fields(line);
        const auto degrees = [](const std::string& t, int d) { return t.empty() ? 0 : test::nmeaDegrees(t, d); };
        if (f[0] == "$GPGGA") {
            file.fixes.push_back(
                {f[1], f[6] == "1", degrees(f[2], 2), -degrees(f[4], 3), f[9].empty() ? 0 : std::stod(f[9])});
            file.satellites.push_back(f[7] + "," + f[8]);
        } else if (f[0] == "$GPRMC") {
            file.rmc.push_back({f[1], f[2] == "A", degrees(f[3], 2), -degrees(f[5], 3), 0});
        } else if (f[0] == "$GPGSA" || f[0] == "$GPGSV") {
            file.satellites.push_back(line);
        }
    }
    return file;
}

// East and north metres between two fixes, flat around the drive.
double metres(const Fix& a, const Fix& b)
{
    return std::hypot((a.latitude - b.latitude) * 111033.0, (a.longitude - b.longitude) * 84300.0);
}

class ReceiverErrors : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new test::TempDir;
        test::writeFileBytes(*dir_ / "fidi.kml", driveKml);
        city_ = test::dataFile("street/lower-manhattan-cut.osm").string();
        run("open", {});
        run("noisy", {"--receiver-errors"});
        run("noisy-again", {"--receiver-errors", "--seed", "37"});
        run("noisy-5", {"--receiver-errors", "--seed", "5"});
        run("street", {"--buildings", city_});
        run("street-true", {"--buildings", city_, "--no-receiver-errors"});
        run("street-false", {"--buildings", city_, "--receiver-errors=false"});
    }
    static void TearDownTestSuite() { delete dir_; }

    static void run(const std::string& name, const std::vector<std::string>& extra)
    {
        std::vector<std::string> arguments = {"route",
                                              (*dir_ / "fidi.kml").string(),
                                              "--rmc",
                                              "--date",
                                              "2010-07-01",
                                              "--start-time",
                                              "3600",
                                              "--sky",
                                              test::dataFile("sky/brdc1820_0000-0400.10n").string(),
                                              "-o",
                                              (*dir_ / (name + ".nmea")).string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const auto result = test::runTrajix(arguments);
        ASSERT_EQ(result.exitCode, 0) << name << ": " << result.err;
    }
    static std::string bytes(const std::string& name) { return test::readFileBytes(*dir_ / (name + ".nmea")); }

    static test::TempDir* dir_;
    static std::string city_;
};
test::TempDir* ReceiverErrors::dir_ = nullptr;
std::string ReceiverErrors::city_;

TEST_F(ReceiverErrors, UnderTheOpenSkyTheNoiseIsAFewMetresAndTheSeedMakesTheFile)
{
    const File open = parse(bytes("open")), noisy = parse(bytes("noisy")), other = parse(bytes("noisy-5"));
    ASSERT_GT(open.fixes.size(), 100u);
    ASSERT_EQ(noisy.fixes.size(), open.fixes.size());
    ASSERT_EQ(other.fixes.size(), open.fixes.size());
    // The default seed is 37, and the same seed writes the same bytes.
    EXPECT_EQ(bytes("noisy"), bytes("noisy-again"));
    // The satellites, their SNRs, the DOPs and the counts are the sky's.
    EXPECT_EQ(noisy.satellites, open.satellites);
    EXPECT_EQ(other.satellites, open.satellites);
    double squares = 0, largest = 0, up = 0;
    std::size_t moved = 0, apart = 0;
    for (std::size_t i = 0; i < open.fixes.size(); ++i) {
        SCOPED_TRACE(open.fixes[i].time);
        ASSERT_TRUE(noisy.fixes[i].fixed);
        const double e = metres(noisy.fixes[i], open.fixes[i]);
        squares += e * e;
        largest = std::max(largest, e);
        up += std::pow(noisy.fixes[i].altitude - open.fixes[i].altitude, 2);
        moved += e > 0.01;
        apart += metres(noisy.fixes[i], other.fixes[i]) > 0.01;
        // RMC writes GGA's position.
        EXPECT_NEAR(noisy.rmc[i].latitude, noisy.fixes[i].latitude, 1e-7);
        EXPECT_NEAR(noisy.rmc[i].longitude, noisy.fixes[i].longitude, 1e-7);
    }
    const double n = static_cast<double>(open.fixes.size());
    EXPECT_EQ(moved, open.fixes.size());
    EXPECT_EQ(apart, open.fixes.size()) << "another seed, other positions";
    EXPECT_GT(std::sqrt(squares / n), 0.1);
    EXPECT_LT(std::sqrt(squares / n), 3.0);
    EXPECT_LT(largest, 10.0);
    EXPECT_GT(std::sqrt(up / n), 0.1);
    EXPECT_LT(std::sqrt(up / n), 5.0);
}

TEST_F(ReceiverErrors, AmongTheTowersTheyAreOnByDefaultAndReflectionsPullFarther)
{
    const File open = parse(bytes("open")), street = parse(bytes("street")), truth = parse(bytes("street-true"));
    const File noisy = parse(bytes("noisy"));
    EXPECT_EQ(bytes("street-true"), bytes("street-false"));
    EXPECT_NE(bytes("street"), bytes("street-true"));
    ASSERT_EQ(street.fixes.size(), open.fixes.size());
    // The fix and the satellites are the street's either way.
    EXPECT_EQ(street.satellites, truth.satellites);
    double largest = 0, streetSquares = 0, noiseSquares = 0;
    std::size_t fixed = 0;
    for (std::size_t i = 0; i < open.fixes.size(); ++i) {
        SCOPED_TRACE(open.fixes[i].time);
        ASSERT_EQ(street.fixes[i].fixed, truth.fixes[i].fixed);
        if (!truth.fixes[i].fixed) continue;
        ++fixed;
        EXPECT_LT(metres(truth.fixes[i], open.fixes[i]), 1e-6) << "without the errors, the true position";
        const double e = metres(street.fixes[i], open.fixes[i]);
        largest = std::max(largest, e);
        streetSquares += e * e;
        noiseSquares += std::pow(metres(noisy.fixes[i], open.fixes[i]), 2);
    }
    ASSERT_GT(fixed, 100u);
    // Reflected paths and echoes of tens of metres put the receiver farther off than the
    // noise alone does at the same samples, but not off the island.
    EXPECT_GT(streetSquares, 4 * noiseSquares);
    EXPECT_GT(largest, 5.0);
    EXPECT_LT(largest, 1000.0);
}

TEST_F(ReceiverErrors, GpsdDecodesThePositionsAsWritten)
{
    if (const auto missing = test::missingTool({"/usr/bin/gpsdecode"})) FAIL() << *missing;
    const File noisy = parse(bytes("noisy"));
    const auto decoded =
        test::runProgram("/bin/sh", {"-c", "exec /usr/bin/gpsdecode -j < \"$0\"", (*dir_ / "noisy.nmea").string()});
    std::vector<std::pair<double, double>> positions;
    std::stringstream in(decoded.out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("\"class\":\"TPV\"") == std::string::npos) continue;
        const auto lat = line.find("\"lat\":"), lon = line.find("\"lon\":");
        if (lat == std::string::npos || lon == std::string::npos) continue;
        positions.emplace_back(std::stod(line.substr(lat + 6)), std::stod(line.substr(lon + 6)));
    }
    // Every written position is among gpsd's, in order (but the first, before gpsd has a
    // date).
    std::size_t found = 0, k = 0;
    for (const Fix& f : noisy.fixes)
        for (; k < positions.size(); ++k)
            if (std::fabs(positions[k].first - f.latitude) < 1e-7 &&
                std::fabs(positions[k].second - f.longitude) < 1e-7) {
                ++found;
                break;
            }
    EXPECT_GE(found + 1, noisy.fixes.size());
}

TEST(ReceiverErrorsCli, BadChoicesAreRefusedAndNothingIsWritten)
{
    test::TempDir dir;
    test::writeFileBytes(dir / "fidi.kml", driveKml);
    const std::string out = (dir / "out.nmea").string();
    const std::string sky = test::dataFile("sky/brdc1820_0000-0400.10n").string();
    struct Case {
        std::vector<std::string> extra;
        int exit;
        std::string says;
    };
    const Case cases[] = {
        {{"--receiver-errors"}, 2, "--receiver-errors: needs --sky"},
        {{"--rmc", "--seed", "3"}, 2, "--seed: needs --sky"},
        {{"--sky", sky, "--seed", "3"}, 2, "--seed: needs --receiver-errors or --buildings"},
        {{"--sky", sky, "--receiver-errors", "--seed", "-3"}, 1, "--seed -3 is not a whole number"},
        {{"--sky", sky, "--receiver-errors", "--seed", "three"}, 2, "--seed"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {
            "route", (dir / "fidi.kml").string(), "--date", "2010-07-01", "--start-time", "3600", "-o", out};
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        const auto run = test::runTrajix(arguments);
        EXPECT_EQ(run.exitCode, c.exit) << c.says << "\n" << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.says;
    }
}

}  // namespace
}  // namespace trajix
