// The signal in the street: the copies of a satellite's signal the buildings let
// through, a recording and the NMEA file of one drive agreeing satellite by satellite,
// nothing but noise under a tunnel, and a buildings file that cannot be read refused.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "common/error.hpp"
#include "signal/generator.hpp"
#include "sky/gps_orbit.hpp"
#include "sky/sky_model.hpp"
#include "test_support.hpp"

namespace trajix {
namespace {

using test::dataFile;

const std::string generatorProgram = (std::filesystem::path(TRAJIX_BINARY_DIR) / "cli" / "TrajixBinary").string();

// 2010-07-01 01:00:00 UTC: GPS week 1590, Thursday, 15 leap seconds.
constexpr int week = 1590;
constexpr double startSeconds = 4 * 86400 + 3600 + 15;

TEST(StreetSignal, CopiesOfASatellitesSignalThatTheStreetLetsThrough)
{
    using street::Reception;
    const double c = gps::speedOfLight;
    const street::Reflection wall{14.2, 6, 3};
    const street::Reflection lossless{30, 0, 1};
    struct Case {
        const char* what;
        street::SatelliteInStreet satellite;
        bool covered;
        std::vector<SignalCopy> copies;
    };
    const Case cases[] = {
        {"clear", {Reception::clear, std::nullopt}, false, {{0, 1}}},
        {"blocked: silent", {Reception::blocked, std::nullopt}, false, {}},
        {"reflected only: late and weaker", {Reception::reflected, wall}, false, {{14.2 / c, std::pow(10, -0.3)}}},
        {"reflected without loss: only late", {Reception::reflected, lossless}, false, {{30 / c, 1}}},
        {"clear with an echo: two copies", {Reception::clear, wall}, false, {{0, 1}, {14.2 / c, std::pow(10, -0.3)}}},
        {"under a tunnel even a clear one is silent", {Reception::clear, wall}, true, {}},
        {"under a tunnel a reflection too", {Reception::reflected, wall}, true, {}},
    };
    for (const Case& k : cases) {
        const std::vector<SignalCopy> copies = signalCopies(k.satellite, k.covered);
        ASSERT_EQ(copies.size(), k.copies.size()) << k.what;
        for (std::size_t i = 0; i < copies.size(); ++i) {
            EXPECT_NEAR(copies[i].delaySeconds, k.copies[i].delaySeconds, 1e-15) << k.what;
            EXPECT_NEAR(copies[i].gain, k.copies[i].gain, 1e-12) << k.what;
        }
    }
    // A 6 dB loss halves the amplitude (a quarter of the power); the extra path is
    // travelled at the speed of light: 14.2 m in 47.4 ns.
    EXPECT_NEAR(signalCopies({Reception::reflected, wall}, false)[0].gain, 0.5012, 1e-4);
    EXPECT_NEAR(signalCopies({Reception::reflected, wall}, false)[0].delaySeconds * 1e9, 47.37, 0.01);
}

// Two seconds of a receiver standing at latitude, longitude (20 m below the ellipsoid,
// street level in Lower Manhattan) under the brdc sky of the start.
GeneratorSettings standingAt(double latitude, double longitude, SampleFormat format)
{
    GeneratorSettings s;
    s.ephemerisFile = dataFile("sky/brdc1820_0000-0400.10n");
    s.week = week;
    s.startSeconds = startSeconds;
    s.durationSeconds = 2;
    s.staticPosition = true;
    s.latitude = latitude;
    s.longitude = longitude;
    s.altitude = -20;
    s.format = format;
    return s;
}

// The recording of settings, with each line the generator says in *said.
std::string recording(const GeneratorSettings& settings, std::vector<std::string>* said)
{
    if (said) said->clear();
    SignalGenerator generator(settings, [said](const std::string& line) {
        if (said) said->push_back(line);
    });
    std::string bytes;
    generator.run([&bytes](const std::uint8_t* data, std::size_t size, double) {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    return bytes;
}

// A receiver standing in the Battery Park Underpass (a covered way of the cut), the
// recording of one-bit samples: only noise, byte for byte the recording of the same
// noise with no satellite at all; a few metres out of it, above ground, the satellites
// are back.
TEST(StreetSignal, UnderATunnelTheRecordingIsTheNoiseAlone)
{
    GeneratorSettings s = standingAt(40.7076216, -74.0156323, SampleFormat{false, 1, 4092, 1023000});
    s.threads = 2;
    s.street = std::make_shared<const street::StreetModel>(street::StreetModel::fromFile(
        dataFile("street/lower-manhattan-cut.osm"), street::StreetReadOptions{}, street::StreetModelOptions{}));

    std::vector<std::string> said;
    const std::string tunnel = recording(s, &said);
    const std::size_t satellites = SignalGenerator(s).initialSatellites().size();
    ASSERT_GE(satellites, 6u) << "satellites above the mask";
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.front(), "under cover from 0 s: every satellite silent");

    GeneratorSettings none = s;
    none.street.reset();
    none.maxSatellites = 0;
    EXPECT_TRUE(recording(none, nullptr) == tunnel) << "the underpass lets a satellite through";

    // Beside the underpass's portal, out in the open: not the noise alone.
    GeneratorSettings out = s;
    out.latitude = 40.7087;
    out.longitude = -74.01535;
    const std::string open = recording(out, &said);
    EXPECT_EQ(std::count(said.begin(), said.end(), std::string("under cover from 0 s: every satellite silent")), 0);
    none.latitude = out.latitude;
    none.longitude = out.longitude;
    EXPECT_FALSE(recording(none, nullptr) == open);
}

// At the start of the walk below one satellite arrives by a reflection only, one with an
// echo and the others not at all: the plain scalar loops on one thread make the same
// bytes as the vector loops on two, and the recording differs from the open sky's.
TEST(StreetSignal, ReflectionsAndEchoesMakeTheSameBytesWithThePlainLoops)
{
    GeneratorSettings s = standingAt(40.705192, -74.010588, SampleFormat{true, 8, 2046, 0});
    s.buildingsFile = dataFile("street/lower-manhattan-cut.osm");
    std::vector<std::string> lines;
    const auto record = [&lines](const GeneratorSettings& settings) { return recording(settings, &lines); };
    const auto saidAll = [&lines] {
        std::string all;
        for (const std::string& line : lines) all += line + "\n";
        return all;
    };
    GeneratorSettings plain = s;
    plain.threads = 1;
    plain.referenceLoops = true;
    s.threads = 2;
    const std::string fast = record(s);
    const std::string said = saidAll();
    EXPECT_NE(said.find(" reflected from 0 s"), std::string::npos) << said;
    EXPECT_NE(said.find(" clear with an echo from 0 s"), std::string::npos) << said;
    EXPECT_NE(said.find(" blocked from 0 s"), std::string::npos) << said;
    EXPECT_TRUE(record(plain) == fast);
    GeneratorSettings open = s;
    open.buildingsFile.clear();
    EXPECT_FALSE(record(open) == fast);
}

// The NMEA file of a 60-m walk along a canyon of the Financial District, written by trajix
// route with the buildings, and the recording TrajixBinary makes along that file's
// path with the same buildings: every second, a satellite the file lists with an empty
// SNR is silent in the recording and every other one sounds, and one the recording has
// by a reflection only is 6 dB weaker in the file.
class StreetWalk : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new test::TempDir;
        const std::string kml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
            "<Placemark><name>walk</name><LineString><coordinates>-74.010588,40.705192,0 -74.009906,40.705040,0"
            "</coordinates></LineString></Placemark></Document></kml>\n";
        test::writeFileBytes(*dir_ / "walk.kml", kml);
        const std::string sky = dataFile("sky/brdc1820_0000-0400.10n").string();
        const std::string city = dataFile("street/lower-manhattan-cut.osm").string();
        // The path the generator follows is the true one, written under the open sky
        // (in the street the file has no position where the fix is lost).
        const std::vector<std::string> walk = {"route",
                                               (*dir_ / "walk.kml").string(),
                                               "--date",
                                               "2010-07-01",
                                               "--start-time",
                                               "3600",
                                               "--rate",
                                               "1",
                                               "--speed",
                                               "15",
                                               "--stationary-start",
                                               "1",
                                               "--stationary-end",
                                               "1",
                                               "--sky",
                                               sky,
                                               "--max-used",
                                               "32"};
        auto street = walk, open = walk;
        street.insert(street.end(), {"--buildings", city, "-o", (*dir_ / "walk.nmea").string()});
        open.insert(open.end(), {"-o", (*dir_ / "path.nmea").string()});
        route_ = test::runTrajix(street);
        path_ = test::runTrajix(open);
        const std::string profile = fmt::format(
            "GPS_Week = {}\nGPS_Start_Time_in_sec = {}\nDuration_in_sec = {}\nSimulation_Day = 1\n"
            "Simulation_Mon = 7\nSimulation_Year = 2010\nSampleRate_in_KHz = 2046\nbitPerSample = 8\n"
            "IQ_format = IQ\nIFFreq_in_Hz = 0\nMask_in_deg = 5\nNoiseFigure_in_dB = 0\nEphemeris_File = {}\n"
            "Source_NMEA_file = {}\nIF_IQ_File = {}\nMax_Satellites = 32\nBuildings_File = {}\n",
            week, startSeconds, seconds, sky, (*dir_ / "path.nmea").string(), (*dir_ / "walk.iq").string(), city);
        test::writeFileBytes(*dir_ / "profile.txt", profile);
        generator_ = test::runProgram(generatorProgram, {"--threads", "2", (*dir_ / "profile.txt").string()});
    }
    static void TearDownTestSuite() { delete dir_; }

    static constexpr int seconds = 12;
    static test::TempDir* dir_;
    static test::CommandResult route_, path_, generator_;
};
test::TempDir* StreetWalk::dir_ = nullptr;
test::CommandResult StreetWalk::route_, StreetWalk::path_, StreetWalk::generator_;

// Per second of the file: satellite -> (elevation, SNR text).
std::vector<std::map<int, std::pair<int, std::string>>> gsvBySecond(const std::string& text)
{
    std::vector<std::map<int, std::pair<int, std::string>>> seconds;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("$GPGSV", 0) != 0) continue;
        std::vector<std::string> f;
        std::stringstream fields(line.substr(0, line.find('*')));
        std::string field;
        while (std::getline(fields, field, ',')) f.push_back(field);
        if (line[line.find('*') - 1] == ',') f.emplace_back();
        if (f[2] == "1") seconds.emplace_back();
        for (std::size_t k = 4; k + 3 < f.size(); k += 4)
            seconds.back()[std::stoi(f[k])] = {std::stoi(f[k + 1]), f[k + 3]};
    }
    return seconds;
}

TEST_F(StreetWalk, TheRecordingAndTheNmeaFileAgreeSatelliteBySatellite)
{
    ASSERT_EQ(route_.exitCode, 0) << route_.err;
    ASSERT_EQ(path_.exitCode, 0) << path_.err;
    ASSERT_EQ(generator_.exitCode, 0) << generator_.err << generator_.out;
    const auto file = gsvBySecond(test::readFileBytes(*dir_ / "walk.nmea"));
    ASSERT_GE(file.size(), static_cast<std::size_t>(seconds));

    // The satellites of the recording and what the street does to each from which second.
    std::set<int> recorded;
    {
        std::smatch list;
        ASSERT_TRUE(std::regex_search(generator_.out, list, std::regex("satellites above the mask:([ 0-9]*)")));
        std::stringstream numbers(list[1].str());
        for (int prn = 0; numbers >> prn;) recorded.insert(prn);
    }
    std::map<int, std::map<int, std::string>> changes;  // prn -> second -> state
    const std::regex change(R"(TrajixBinary: PRN (\d+) (blocked|reflected|clear)( with an echo)? from (\d+) s)");
    for (std::sregex_iterator it(generator_.out.begin(), generator_.out.end(), change), end; it != end; ++it)
        changes[std::stoi((*it)[1])][std::stoi((*it)[4])] = (*it)[2];
    EXPECT_EQ(generator_.out.find("under cover"), std::string::npos) << "no tunnel on this walk";

    // What the file says of a satellite in a second: blocked or received.
    const auto fileBlocked = [&](int second, int prn) {
        if (second < 0 || second >= seconds) return std::optional<bool>();
        const auto& listed = file[static_cast<std::size_t>(second)];
        const auto found = listed.find(prn);
        return found == listed.end() ? std::optional<bool>() : std::optional<bool>(found->second.second.empty());
    };
    std::size_t silent = 0, reflected = 0, sounding = 0, atEdge = 0;
    for (int second = 0; second < seconds; ++second) {
        SCOPED_TRACE(fmt::format("second {}", second));
        const auto& listed = file[static_cast<std::size_t>(second)];
        std::set<int> listedPrns;
        for (const auto& [prn, entry] : listed) listedPrns.insert(prn);
        EXPECT_EQ(listedPrns, recorded) << "the same satellites above the mask";
        for (const auto& [prn, entry] : listed) {
            std::string state = "clear";
            for (const auto& [from, what] : changes[prn])
                if (from <= second) state = what;
            const auto& [elevation, snr] = entry;
            if (snr.empty() != (state == "blocked")) {
                // The generator follows the file's positions as printed (to a fifth of a
                // metre): a satellite on a roof's edge may change a second before or after.
                ++atEdge;
                EXPECT_TRUE(fileBlocked(second - 1, prn) == (state == "blocked") ||
                            fileBlocked(second + 1, prn) == (state == "blocked"))
                    << "PRN " << prn << " is " << state << " in the recording, the file's SNR is '" << snr << "'";
                continue;
            }
            if (snr.empty()) {
                ++silent;
                continue;
            }
            ++sounding;
            // The file's SNR: 45 dB-Hz at zenith, 3 dB less at the horizon, the loss of a
            // reflection taken off.
            const double open = 45 - 3 * (1 - std::sin(elevation * M_PI / 180));
            const double expected = state == "reflected" ? open - 6 : open;
            EXPECT_NEAR(std::stoi(snr), expected, 1.0) << "PRN " << prn << " is " << state;
            reflected += state == "reflected";
        }
    }
    EXPECT_LE(atEdge, 2u);
    // The walk sees every kind of street.
    EXPECT_GT(silent, 0u);
    EXPECT_GT(reflected, 0u);
    EXPECT_GT(sounding, 0u);
}

TEST(StreetSignal, ABuildingsFileThatCannotBeReadIsRefusedByNameAndNothingIsWritten)
{
    test::TempDir dir;
    test::writeFileBytes(dir / "city.osm", "<osm>not closed");
    test::writeFileBytes(dir / "empty.geojson", R"({"type":"FeatureCollection","features":[]})");
    const std::string sky = dataFile("sky/brdc1820_0000-0400.10n").string();
    const auto profileWith = [&](const std::string& extra) {
        const std::string text = fmt::format(
            "GPS_Week = {}\nGPS_Start_Time_in_sec = {}\nDuration_in_sec = 1\nSimulation_Day = 1\n"
            "Simulation_Mon = 7\nSimulation_Year = 2010\nSampleRate_in_KHz = 2046\nbitPerSample = 8\n"
            "IQ_format = IQ\nIFFreq_in_Hz = 0\nMask_in_deg = 5\nNoiseFigure_in_dB = 0\nEphemeris_File = {}\n"
            "Source_NMEA_file = none.nmea\nStatic = 1\nLatitude_in_deg = 40.7062\nLongitude_in_deg = -74.0125\n"
            "Altitude_in_m = -20\nIF_IQ_File = {}\n{}",
            week, startSeconds, sky, (dir / "out.iq").string(), extra);
        test::writeFileBytes(dir / "profile.txt", text);
        return (dir / "profile.txt").string();
    };
    struct Case {
        std::string profileExtra;
        std::vector<std::string> options;
        int exit;
        std::string says;
    };
    const std::string missing = (dir / "none.osm").string();
    const std::string broken = (dir / "city.osm").string();
    const std::string empty = (dir / "empty.geojson").string();
    const Case cases[] = {
        {"Buildings_File = " + missing + "\n", {}, 1, missing},
        {"", {"--buildings", missing}, 1, missing},
        {"", {"--buildings", broken}, 1, broken},
        {"", {"--buildings", empty}, 1, empty},
        {"", {"--buildings", dir.path().string()}, 1, dir.path().string()},
        {"Buildings_Height_Attribute = HEIGHT_ROOF\n", {}, 1, "Buildings_Height_Attribute"},
        {"", {"--antenna-height", "2"}, 2, "need --buildings"},
        {"", {"--rail-tunnels"}, 2, "need --buildings"},
        {"",
         {"--buildings", dataFile("street/lower-manhattan-cut.osm").string(), "--reflection-loss", "-3"},
         1,
         "--reflection-loss -3 is not a loss"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.options;
        arguments.push_back(profileWith(c.profileExtra));
        const auto run = test::runProgram(generatorProgram, arguments);
        SCOPED_TRACE(fmt::format("{} {}", c.profileExtra, fmt::join(c.options, " ")));
        EXPECT_EQ(run.exitCode, c.exit) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.iq"));
    }
}

}  // namespace
}  // namespace trajix
