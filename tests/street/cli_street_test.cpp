// trajix route --buildings as a user runs it: a drive down West Street through the
// Battery Park Underpass and east among the Financial District's towers, against the
// same drive under the open sky. Every sample must tell one story (GGA, GSA, RMC and GSV
// agree on the fix and the satellites), the buildings only take away or weaken, the
// tunnel loses the fix and it comes back, and gpsd's decoder reads it so.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace trajix {
namespace {

// The Battery Park Underpass (OSM way 5669304), then east to Broadway.
const std::vector<std::pair<double, double>> tunnel = {
    {40.7082794, -74.0154267}, {40.7078839, -74.0155846}, {40.7077505, -74.0156213}, {40.7076216, -74.0156323},
    {40.7074936, -74.0156171}, {40.707372, -74.0155691},  {40.7072608, -74.0154667}, {40.7071139, -74.0152333},
    {40.7070406, -74.015121},  {40.7069397, -74.0150235}};

std::string driveKml()
{
    std::string coordinates = "-74.01535,40.7087,0 ";
    for (const auto& [lat, lon] : tunnel) coordinates += std::to_string(lon) + "," + std::to_string(lat) + ",0 ";
    coordinates += "-74.0140,40.7066,0 -74.0125,40.7062,0 -74.0113,40.7057,0";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
           "<Placemark><name>fidi</name><LineString><coordinates>" +
           coordinates + "</coordinates></LineString></Placemark></Document></kml>\n";
}

constexpr auto fields = test::nmeaFields;

struct Sample {
    std::vector<std::string> gga, rmc;
    std::vector<std::vector<std::string>> gsa;
};

struct File {
    std::vector<Sample> samples;
    std::vector<std::map<int, std::string>> gsv;  // per second: satellite -> SNR text
    std::size_t lines = 0;
};

File parse(const std::string& text)
{
    File file;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        ++file.lines;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto f = fields(line);
        if (f[0] == "$GPGGA") file.samples.push_back({f, {}, {}});
        if (f[0] == "$GPRMC") file.samples.back().rmc = f;
        if (f[0] == "$GPGSA") file.samples.back().gsa.push_back(f);
        if (f[0] == "$GPGSV") {
            if (f[2] == "1") file.gsv.emplace_back();
            for (std::size_t k = 4; k + 3 < f.size(); k += 4) file.gsv.back()[std::stoi(f[k])] = f[k + 3];
        }
    }
    return file;
}

double metresFromTunnel(double lat, double lon)
{
    // Flat metres around the underpass, near enough for a 2 m test.
    const double kx = 111412.0 * std::cos(40.7076 * M_PI / 180), ky = 111033.0;
    double best = 1e9;
    for (std::size_t i = 0; i + 1 < tunnel.size(); ++i) {
        const double ax = tunnel[i].second * kx, ay = tunnel[i].first * ky;
        const double bx = tunnel[i + 1].second * kx, by = tunnel[i + 1].first * ky;
        const double px = lon * kx, py = lat * ky;
        const double t = std::clamp(
            ((px - ax) * (bx - ax) + (py - ay) * (by - ay)) / ((bx - ax) * (bx - ax) + (by - ay) * (by - ay)), 0.0,
            1.0);
        best = std::min(best, std::hypot(px - ax - t * (bx - ax), py - ay - t * (by - ay)));
    }
    return best;
}

constexpr auto nmeaDegrees = test::nmeaDegrees;

class StreetDrive : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new test::TempDir;
        test::writeFileBytes(*dir_ / "fidi.kml", driveKml());
        const std::vector<std::string> common = {"route",
                                                 (*dir_ / "fidi.kml").string(),
                                                 "--rmc",
                                                 "--date",
                                                 "2010-07-01",
                                                 "--start-time",
                                                 "3600",
                                                 "--sky",
                                                 test::dataFile("sky/brdc1820_0000-0400.10n").string()};
        auto street = common, open = common;
        street.insert(street.end(), {"--buildings", test::dataFile("street/lower-manhattan-cut.osm").string(),
                                     "--no-receiver-errors", "-o", (*dir_ / "street.nmea").string()});
        open.insert(open.end(), {"-o", (*dir_ / "open.nmea").string()});
        streetRun_ = test::runTrajix(street);
        openRun_ = test::runTrajix(open);
    }
    static void TearDownTestSuite() { delete dir_; }

    static test::TempDir* dir_;
    static test::CommandResult streetRun_, openRun_;
};
test::TempDir* StreetDrive::dir_ = nullptr;
test::CommandResult StreetDrive::streetRun_, StreetDrive::openRun_;

TEST_F(StreetDrive, EverySampleTellsOneStoryAndTheBuildingsOnlyTakeAway)
{
    ASSERT_EQ(streetRun_.exitCode, 0) << streetRun_.err;
    ASSERT_EQ(openRun_.exitCode, 0) << openRun_.err;
    const File street = parse(test::readFileBytes(*dir_ / "street.nmea"));
    const File open = parse(test::readFileBytes(*dir_ / "open.nmea"));
    ASSERT_EQ(street.lines, open.lines);
    ASSERT_EQ(street.samples.size(), open.samples.size());
    ASSERT_EQ(street.gsv.size(), open.gsv.size());
    std::size_t lost = 0, weakened = 0, hidden = 0, tunnelSamples = 0;
    bool fixAfterTunnel = false;
    for (std::size_t i = 0; i < street.samples.size(); ++i) {
        const Sample& s = street.samples[i];
        const Sample& o = open.samples[i];
        SCOPED_TRACE("sample at " + s.gga[1]);
        const int used = std::stoi(s.gga[7]);
        const bool fix = s.gga[6] == "1";
        ASSERT_EQ(s.gsa.size(), 1u);
        std::size_t listed = 0;
        for (std::size_t k = 3; k < 15; ++k) listed += !s.gsa[0][k].empty();
        EXPECT_EQ(listed, static_cast<std::size_t>(used));
        EXPECT_EQ(fix, used >= 4);
        EXPECT_EQ(s.gsa[0][2], fix ? "3" : "1");
        EXPECT_EQ(s.rmc[2], fix ? "A" : "V");
        EXPECT_LE(used, std::stoi(o.gga[7]));
        if (fix) {
            // Without the receiver's errors the position is the true one.
            EXPECT_EQ(std::vector<std::string>(s.gga.begin() + 2, s.gga.begin() + 6),
                      std::vector<std::string>(o.gga.begin() + 2, o.gga.begin() + 6));
            EXPECT_EQ(s.gga[9], o.gga[9]);
        } else {
            ++lost;
            EXPECT_EQ(s.gga[2] + s.gga[3] + s.gga[4] + s.gga[5] + s.gga[8] + s.gga[9], "");
        }
        const double lat = nmeaDegrees(o.gga[2], 2), lon = -nmeaDegrees(o.gga[4], 3);
        const double away = metresFromTunnel(lat, lon);
        const double fromEnds =
            std::min(std::hypot((lat - tunnel.front().first) * 111033.0, (lon - tunnel.front().second) * 84300.0),
                     std::hypot((lat - tunnel.back().first) * 111033.0, (lon - tunnel.back().second) * 84300.0));
        if (away < 2 && fromEnds > 10) {
            ++tunnelSamples;
            EXPECT_EQ(used, 0) << "under the underpass";
        }
        if (tunnelSamples > 0 && away > 30 && fix) fixAfterTunnel = true;
    }
    EXPECT_GT(tunnelSamples, 40u);
    EXPECT_TRUE(fixAfterTunnel);
    EXPECT_GT(lost, tunnelSamples);  // the canyons east of it take the fix too
    for (std::size_t second = 0; second < street.gsv.size(); ++second) {
        ASSERT_EQ(street.gsv[second].size(), open.gsv[second].size()) << "every satellite above the mask is listed";
        for (const auto& [prn, snr] : street.gsv[second]) {
            const std::string& clear = open.gsv[second].at(prn);
            if (snr.empty()) {
                ++hidden;
            } else if (snr != clear) {
                ++weakened;
                EXPECT_EQ(std::stoi(snr), std::stoi(clear) - 6) << "satellite " << prn << " in second " << second;
            }
        }
    }
    EXPECT_GT(hidden, 100u);
    EXPECT_GT(weakened, 20u);
}

TEST_F(StreetDrive, GpsdDecodesNoFixUnderTheUnderpassAndTheFixAfter)
{
    if (const auto missing = test::missingTool({"/usr/bin/gpsdecode"})) FAIL() << *missing;
    ASSERT_EQ(streetRun_.exitCode, 0) << streetRun_.err;
    // The file on standard input through the shell: gpsdecode answers as it reads, and a
    // pipe written whole before its answers are read would fill up.
    const auto decoded =
        test::runProgram("/bin/sh", {"-c", "exec /usr/bin/gpsdecode -j < \"$0\"", (*dir_ / "street.nmea").string()});
    // TPV reports by time: the mode gpsd gives each.
    std::vector<std::pair<std::string, int>> modes;
    std::stringstream in(decoded.out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("\"class\":\"TPV\"") == std::string::npos) continue;
        const auto at = line.find("\"mode\":");
        const auto time = line.find("\"time\":\"");
        if (at == std::string::npos || time == std::string::npos) continue;
        modes.emplace_back(line.substr(time + 19, 12), line[at + 7] - '0');
    }
    ASSERT_GT(modes.size(), 1000u);
    // Fixed at the start, then a run without a fix of at least 2 s (the underpass at
    // about 20 m/s is 120 m long), then fixed again.
    std::size_t i = 0;
    while (i < modes.size() && modes[i].second == 3) ++i;
    EXPECT_GT(i, 1000u) << "fixed at the start under the open sky";
    std::size_t firstLost = i;
    while (i < modes.size() && modes[i].second == 1) ++i;
    EXPECT_GE(i - firstLost, 40u) << "lost from " << modes[firstLost].first;
    ASSERT_LT(i, modes.size());
    EXPECT_EQ(modes[i].second, 3) << "fixed again at " << modes[i].first;
}

TEST(StreetCli, BadChoicesAndFilesAreRefusedAndNothingIsWritten)
{
    test::TempDir dir;
    test::writeFileBytes(dir / "fidi.kml", driveKml());
    test::writeFileBytes(dir / "city.osm", "<osm>not closed");
    const std::string kml = (dir / "fidi.kml").string(), out = (dir / "out.nmea").string();
    const std::string sky = test::dataFile("sky/brdc1820_0000-0400.10n").string();
    const std::string city = test::dataFile("street/lower-manhattan-cut.osm").string();
    struct Case {
        std::vector<std::string> extra;
        int exit;
        std::string says;
    };
    const Case cases[] = {
        {{"--buildings", city}, 2, "--buildings: needs --sky"},
        {{"--rail-tunnels"}, 2, "need --buildings"},
        {{"--sky", sky, "--antenna-height", "2"}, 2, "need --buildings"},
        {{"--sky", sky, "--buildings", (dir / "city.osm").string()}, 1, (dir / "city.osm").string() + ": "},
        {{"--sky", sky, "--buildings", (dir / "none.geojson").string()}, 1, "no such file"},
        {{"--sky", sky, "--buildings", city, "--reflection-loss", "-3"}, 1, "--reflection-loss -3 is not a loss"},
        {{"--sky", sky, "--buildings", city, "--default-building-height", "0"}, 1, "is not a height"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"route", kml, "--date", "2010-07-01", "--start-time", "3600", "-o", out};
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        const auto run = test::runTrajix(arguments);
        EXPECT_EQ(run.exitCode, c.exit) << c.says << "\n" << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.says;
    }
}

}  // namespace
}  // namespace trajix
