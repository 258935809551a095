// NMEA files of several satellite systems: the layouts checked by hand against NMEA 4.11,
// the satellites in use over synthetic skies of four systems against a plain reference,
// and gpsd reading a four-system file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/error.hpp"
#include "nmea/dates.hpp"
#include "nmea/sentences.hpp"
#include "nmea/sky_sentences.hpp"
#include "nmea/systems.hpp"
#include "sky/sky_model.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

constexpr auto gpsSystem = sky::GnssSystem::gps;
constexpr auto galileoSystem = sky::GnssSystem::galileo;
constexpr auto beidouSystem = sky::GnssSystem::beidou;
constexpr auto glonassSystem = sky::GnssSystem::glonass;

// The sentences of a text without "$", checksum and CR LF, after checking those.
std::vector<std::string> bodies(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        const std::string sentence = text.substr(at, end - at);
        const auto star = sentence.find('*');
        EXPECT_EQ(sentence.substr(star + 1), nmeaChecksum(sentence.substr(1, star - 1))) << sentence;
        out.push_back(sentence.substr(1, star - 1));
        at = end + 2;
    }
    return out;
}

std::vector<std::string> fieldsOf(const std::string& sentence)
{
    std::vector<std::string> fields;
    std::stringstream stream(sentence.substr(0, sentence.find('*')));
    for (std::string f; std::getline(stream, f, ',');) fields.push_back(f);
    return fields;
}

struct Random {
    std::uint64_t state = 88172645463325252ull;
    double uniform()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
};

// A sky of four systems: satellites on spheres of their orbits' radii (BeiDou with a few
// geostationary ones), in random directions from the Earth's centre.
std::vector<sky::SatellitePosition> randomSky(Random& random)
{
    struct Constellation {
        sky::GnssSystem system;
        int count;
        double radius;  // metres
    };
    const Constellation constellations[] = {{gpsSystem, 31, 26'560e3},
                                            {galileoSystem, 24, 29'600e3},
                                            {beidouSystem, 30, 27'900e3},
                                            {beidouSystem, 5, 42'164e3},
                                            {glonassSystem, 24, 25'510e3}};
    std::vector<sky::SatellitePosition> positions;
    int beidouNumber = 0;
    for (const Constellation& c : constellations)
        for (int k = 0; k < c.count; ++k) {
            const double z = 2 * random.uniform() - 1, phi = 2 * 3.14159265358979 * random.uniform();
            const double r = std::sqrt(1 - z * z);
            const int number = c.system == beidouSystem ? ++beidouNumber : k + 1;
            const bool geostationary = c.radius > 40'000e3;
            positions.push_back(
                {c.system,
                 geostationary ? 58 + k : number,
                 {c.radius * r * std::cos(phi), c.radius * r * std::sin(phi), geostationary ? 0.0 : c.radius * z}});
        }
    return positions;
}

Ecef randomPlace(Random& random)
{
    const double latitude = -80 + 160 * random.uniform(), longitude = -180 + 360 * random.uniform();
    return geodeticToEcef(latitude, longitude, 2000 * random.uniform());
}

// (H^T H)^-1 by cofactors, the plain way; H rows east, north, up, clock.
std::optional<std::array<double, 3>> plainDops(const std::vector<sky::SatelliteView>& used)
{
    double m[4][4] = {};
    for (const sky::SatelliteView& s : used) {
        const double e = s.elevation * 3.14159265358979323846 / 180, a = s.azimuth * 3.14159265358979323846 / 180;
        const double row[4] = {std::cos(e) * std::sin(a), std::cos(e) * std::cos(a), std::sin(e), 1};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) m[r][c] += row[r] * row[c];
    }
    const auto minor = [&](int skipRow, int skipColumn) {
        double a[3][3];
        for (int r = 0, i = 0; r < 4; ++r) {
            if (r == skipRow) continue;
            for (int c = 0, j = 0; c < 4; ++c)
                if (c != skipColumn) a[i][j++] = m[r][c];
            ++i;
        }
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    double determinant = 0;
    for (int c = 0; c < 4; ++c) determinant += (c % 2 ? -1 : 1) * m[0][c] * minor(0, c);
    if (used.size() < 4 || determinant == 0) return std::nullopt;
    const double east = minor(0, 0) / determinant, north = minor(1, 1) / determinant, up = minor(2, 2) / determinant;
    return std::array{std::sqrt(east + north + up), std::sqrt(east + north), std::sqrt(up)};
}

}  // namespace

TEST(MultiSystemSentences, LayoutsOfNmea411ByHand)
{
    sky::SkyView view;
    view.satellites = {{gpsSystem, 5, 30.4, 45.2, 44.2, true},    {gpsSystem, 12, 10, 359.7, 41.5, false},
                       {galileoSystem, 36, 60, 120, 44.8, true},  {beidouSystem, 59, 45, 180, 44, true},
                       {glonassSystem, 1, 5.2, 270, 40.1, false}, {glonassSystem, 24, 75, 10, 45, true}};
    view.usedCount = 4;
    view.pdop = 1.504;
    view.hdop = 0.9;
    view.vdop = 1.2;
    const NmeaSystems all = parseNmeaSystems("glonass,beidou,galileo,gps");
    const std::string dops[] = {formatDop(*view.pdop), formatDop(*view.hdop), formatDop(*view.vdop)};
    EXPECT_EQ(bodies(gsaSentences(view, all, dops[0], dops[1], dops[2])),
              (std::vector<std::string>{
                  "GPGSA,A,3,05,,,,,,,,,,,,1.50,0.90,1.20,1", "GLGSA,A,3,88,,,,,,,,,,,,1.50,0.90,1.20,2",
                  "GAGSA,A,3,36,,,,,,,,,,,,1.50,0.90,1.20,3", "GBGSA,A,3,59,,,,,,,,,,,,1.50,0.90,1.20,4"}));
    EXPECT_EQ(bodies(gsvSentences(view, all)),
              (std::vector<std::string>{"GPGSV,1,1,02,05,30,045,44,12,10,000,42,1",
                                        "GLGSV,1,1,02,65,05,270,40,88,75,010,45,1", "GAGSV,1,1,01,36,60,120,45,7",
                                        "GBGSV,1,1,01,59,45,180,44,1"}));

    // One system other than GPS: its own talker, its IDs; a system without a satellite
    // above the mask still says so.
    EXPECT_EQ(bodies(gsvSentences(view, parseNmeaSystems("galileo"))),
              (std::vector<std::string>{"GAGSV,1,1,01,36,60,120,45,7"}));
    sky::SkyView empty;
    const NmeaSystems beidouAlone = parseNmeaSystems("beidou");
    EXPECT_EQ(bodies(gsvSentences(empty, beidouAlone)), (std::vector<std::string>{"GBGSV,1,1,00,1"}));
    EXPECT_EQ(bodies(gsaSentences(empty, beidouAlone, "", "", "")),
              (std::vector<std::string>{"GBGSA,A,1,,,,,,,,,,,,,,,,4"}));

    // More than twelve of one system in use: a second GSA of that system, with GPS
    // alone as with more systems.
    sky::SkyView many;
    for (int prn = 1; prn <= 14; ++prn) many.satellites.push_back({gpsSystem, prn, 20.0 + prn, 0, 40, true});
    many.satellites.push_back({galileoSystem, 3, 50, 0, 40, true});
    many.pdop = 1;
    const auto twoSystems = bodies(gsaSentences(many, parseNmeaSystems("gps,galileo"), "1.00", "0.70", "0.70"));
    EXPECT_EQ(twoSystems, (std::vector<std::string>{"GPGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.00,0.70,0.70,1",
                                                    "GPGSA,A,3,13,14,,,,,,,,,,,1.00,0.70,0.70,1",
                                                    "GAGSA,A,3,03,,,,,,,,,,,,1.00,0.70,0.70,3"}));
    many.satellites.pop_back();
    EXPECT_EQ(bodies(gsaSentence(many, "1.00", "0.70", "0.70")),
              (std::vector<std::string>{"GPGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.00,0.70,0.70",
                                        "GPGSA,A,3,13,14,,,,,,,,,,,1.00,0.70,0.70"}));
    // GPS alone keeps the layout without IDs.
    EXPECT_EQ(gsvSentences(view, NmeaSystems{}), gsvSentences(view));
}

TEST(MultiSystemSentences, SystemChoicesAndTheirTalkers)
{
    struct Case {
        std::string text;
        std::string names;
        std::string talker;
        int maxUsed;
    };
    const Case cases[] = {
        {"gps", "gps", "GP", 12},         {" Galileo , GPS ", "gps,galileo", "GN", 24},
        {"glonass", "glonass", "GL", 24}, {"beidou,beidou", "beidou", "GB", 24},
        {"galileo", "galileo", "GA", 24}, {"beidou,galileo,glonass,gps", "gps,glonass,galileo,beidou", "GN", 24}};
    for (const Case& c : cases) {
        const NmeaSystems systems = parseNmeaSystems(c.text);
        EXPECT_EQ(systems.names(), c.names) << c.text;
        EXPECT_EQ(systems.talker(), c.talker) << c.text;
        EXPECT_EQ(systems.defaultMaxUsed(), c.maxUsed) << c.text;
        EXPECT_EQ(parseNmeaSystems(systems.names()), systems) << c.text;
    }
    const std::pair<std::string, std::string> refused[] = {{"", "no satellite system"},
                                                           {" ", "no satellite system"},
                                                           {"gps,", "'gps,'"},
                                                           {"galileo,qzss", "'qzss'"},
                                                           {"gps;galileo", "'gps;galileo'"}};
    for (const auto& [text, named] : refused) {
        try {
            parseNmeaSystems(text);
            ADD_FAILURE() << "'" << text << "' was taken";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(nmeaSatelliteNumber(glonassSystem, 1), 65);
    EXPECT_EQ(nmeaSatelliteNumber(glonassSystem, 24), 88);
    EXPECT_EQ(nmeaSatelliteNumber(beidouSystem, 63), 63);
    EXPECT_EQ(nmeaSignalId(galileoSystem), 7);
}

TEST(MultiSystemSentences, TalkerSwapMendsTheChecksumOfAnySentence)
{
    Random random;
    const std::string characters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ.,-";
    for (int i = 0; i < 20000; ++i) {
        std::string body = "GGA,";
        const auto length = static_cast<std::size_t>(random.uniform() * 70);
        for (std::size_t k = 0; k < length; ++k)
            body += characters[static_cast<std::size_t>(random.uniform() * static_cast<double>(characters.size()))];
        const std::string sentence = finishSentence("$GP" + body + "*");
        for (const std::string_view talker : {"GN", "GA", "GB", "GL"})
            ASSERT_EQ(withTalker(sentence, talker), finishSentence("$" + std::string(talker) + body + "*")) << body;
        ASSERT_EQ(withTalker(sentence, "GP"), sentence);
    }
}

TEST(MultiSystemSky, InUseAreTheHighestOverEverySystemWithThePlainDops)
{
    Random random;
    int compared = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const auto positions = randomSky(random);
        const sky::ReceiverFrame frame = sky::receiverFrame(randomPlace(random));
        const double mask = 15 * random.uniform();
        const int maxUsed = 4 + static_cast<int>(random.uniform() * 30);
        const sky::SkyView view = sky::viewOf(positions, frame, mask, maxUsed, {});
        // Every satellite at or above the mask, by system and number.
        std::size_t above = 0;
        for (const auto& p : positions) above += sky::elevationDegrees(frame, p.position) >= mask;
        ASSERT_EQ(view.satellites.size(), above);
        ASSERT_TRUE(std::is_sorted(view.satellites.begin(), view.satellites.end(), [](const auto& a, const auto& b) {
            return std::tie(a.system, a.prn) < std::tie(b.system, b.prn);
        }));
        // The ones in use: as many as allowed, none lower than one left out.
        std::vector<sky::SatelliteView> used;
        double lowestUsed = 90, highestLeft = -90;
        for (const auto& s : view.satellites) {
            if (s.used) used.push_back(s);
            (s.used ? lowestUsed : highestLeft) =
                s.used ? std::min(lowestUsed, s.elevation) : std::max(highestLeft, s.elevation);
        }
        ASSERT_EQ(static_cast<int>(used.size()), std::min<int>(maxUsed, static_cast<int>(above)));
        ASSERT_EQ(view.usedCount, static_cast<int>(used.size()));
        ASSERT_GE(lowestUsed, highestLeft);
        // Their DOPs as a plain inverse gives them; a geometry too close to singular for
        // both to agree (four satellites nearly on a cone) has DOPs in the thousands.
        const auto plain = plainDops(used);
        if (view.pdop) {
            ASSERT_TRUE(plain);
            if (*view.pdop < 100) {
                EXPECT_NEAR(*view.pdop, (*plain)[0], 1e-6 * (*plain)[0]);
                EXPECT_NEAR(*view.hdop, (*plain)[1], 1e-6 * (*plain)[1]);
                EXPECT_NEAR(*view.vdop, (*plain)[2], 1e-6 * (*plain)[2]);
                ++compared;
            }
        } else if (used.size() >= 4) {
            EXPECT_TRUE(!plain || (*plain)[0] > 1e3) << (*plain)[0];
        }
        // With every satellite in use, adding systems never widens the DOPs.
        std::vector<sky::SatellitePosition> gpsAlone;
        for (const auto& p : positions)
            if (p.system == gpsSystem) gpsAlone.push_back(p);
        const sky::SkyView all = sky::viewOf(positions, frame, mask, 200, {});
        const sky::SkyView fewer = sky::viewOf(gpsAlone, frame, mask, 200, {});
        if (fewer.pdop) {
            ASSERT_TRUE(all.pdop);
            EXPECT_LE(*all.pdop, *fewer.pdop * (1 + 1e-12));
            EXPECT_LE(*all.hdop, *fewer.hdop * (1 + 1e-12));
            EXPECT_LE(*all.vdop, *fewer.vdop * (1 + 1e-12));
        }
    }
    EXPECT_GE(compared, 350);
}

TEST(MultiSystemSky, AFileWithoutAChosenSystemIsRefused)
{
    // A file is refused for a system it does not hold, naming it.
    const auto file = dataFile("sky/brdc1820_0000-0400.10n");
    const auto model = skyModelFor(file, {2010, 7, 1});
    EXPECT_NO_THROW(checkSkySystems(*model, NmeaSystems{}));
    try {
        checkSkySystems(*model, parseNmeaSystems("gps,galileo,glonass"));
        ADD_FAILURE() << "a GPS file was taken for Galileo and GLONASS";
    } catch (const Error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("brdc1820_0000-0400.10n"), std::string::npos) << message;
        EXPECT_NE(message.find("GLONASS or Galileo"), std::string::npos) << message;
    }
}

namespace {

// Each epoch of a file as gpsd reports it: "gnssid svid el az ss used" by satellite.
// gnssid and svid as gpsd numbers them: GPS 0, Galileo 2, BeiDou 3, GLONASS 6 (slot).
using Epoch = std::map<std::pair<int, int>, std::string>;

std::pair<int, int> gpsdSatellite(const std::string& talker, int number)
{
    if (talker == "GA") return {2, number};
    if (talker == "GB") return {3, number};
    if (talker == "GL") return {6, number - 64};
    return {0, number};
}

std::string satelliteItem(int elevation, int azimuth, int snr, bool used)
{
    return std::to_string(elevation) + " " + std::to_string(azimuth) + " " + std::to_string(snr) +
           (used ? " used" : "");
}

std::vector<Epoch> epochsOf(const std::string& text)
{
    std::vector<Epoch> epochs;
    std::set<std::pair<int, int>> used;
    std::map<std::string, bool> gsvDone;
    Epoch epoch;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        const auto f = fieldsOf(line);
        const std::string talker = f[0].substr(1, 2), type = f[0].substr(3);
        if (type == "GGA") {
            used.clear();
        } else if (type == "GSA") {
            for (std::size_t k = 3; k < 15; ++k)
                if (!f[k].empty()) used.insert(gpsdSatellite(talker, std::stoi(f[k])));
        } else if (type == "GSV") {
            for (std::size_t k = 4; k + 3 < f.size(); k += 4) {
                const auto id = gpsdSatellite(talker, std::stoi(f[k]));
                epoch[id] =
                    satelliteItem(std::stoi(f[k + 1]), std::stoi(f[k + 2]), std::stoi(f[k + 3]), used.count(id) > 0);
            }
            if (f[1] == f[2] && talker == "GB") {  // the last system's last GSV
                epochs.push_back(epoch);
                epoch.clear();
            }
        }
    }
    return epochs;
}

}  // namespace

// Feeds a four-system file to gpsd and checks that every SKY report holding all four
// systems is one of the file's epochs; returns how many there were.
namespace {

int gpsdAgreesWith(const std::filesystem::path& file, const TempDir& dir)
{
    const std::string text = readFileBytes(file);
    const std::vector<Epoch> epochs = epochsOf(text);
    EXPECT_GE(epochs.size(), 10u);

    const auto result =
        runProgram("/bin/sh", {dataFile("../support/gpsd_read.sh").string(), file.string(), dir.path().string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::regex satellite(
        R"(\{"PRN":\d+,"el":([-\d.]+),"az":([\d.]+),"ss":([\d.]+),"used":(true|false),"gnssid":(\d+),"svid":(\d+))");
    int complete = 0;
    std::stringstream reports(result.out);
    for (std::string line; std::getline(reports, line);) {
        if (line.find("\"class\":\"SKY\"") == std::string::npos || line.find("\"satellites\"") == std::string::npos)
            continue;
        Epoch reported;
        for (std::sregex_iterator m(line.begin(), line.end(), satellite), end; m != end; ++m)
            // gpsd 3.22 files BeiDou 33-63 outside the first GSV of the system as SBAS
            // (svid + 87); the file holds no SBAS satellite.
            reported[std::stoi((*m)[5]) == 1 ? std::pair(3, std::stoi((*m)[6]) - 87)
                                             : std::pair(std::stoi((*m)[5]), std::stoi((*m)[6]))] =
                satelliteItem(static_cast<int>(std::stod((*m)[1])), static_cast<int>(std::stod((*m)[2])),
                              static_cast<int>(std::stod((*m)[3])), (*m)[4] == "true");
        // gpsd reports the sky as each system's GSV arrives; the reports holding all four
        // systems must be one of the file's epochs. Two faults of gpsd 3.22 are left out:
        // it reads a GSA's PDOP as one more satellite number when the system ID follows
        // it (its loop runs a field too far), so satellite int(PDOP) of each system may
        // show as used; and the BeiDou satellites it files as SBAS lose their used flag.
        std::set<int> systems;
        for (const auto& entry : reported) systems.insert(entry.first.first);
        if (systems.size() < 4) continue;
        const auto pdopAt = line.find("\"pdop\":");
        const double pdop = pdopAt == std::string::npos ? 0 : std::stod(line.substr(pdopAt + 7));
        const auto withoutArtefact = [&](Epoch e) {
            // gpsd's own PDOP may lie a hair from the GSA's.
            for (const double near : {pdop * 0.98, pdop * 1.02})
                for (const int gnssid : {0, 2, 3, 6}) e.erase({gnssid, static_cast<int>(near)});
            for (auto& [id, item] : e)
                if (id.first == 3 && id.second > 32 && item.size() > 5 && item.ends_with(" used"))
                    item.resize(item.size() - 5);
            return e;
        };
        const bool matched = std::any_of(epochs.begin(), epochs.end(), [&](const Epoch& epoch) {
            return withoutArtefact(epoch) == withoutArtefact(reported);
        });
        EXPECT_TRUE(matched) << line;
        ++complete;
    }
    return complete;
}

}  // namespace

TEST(MultiSystemSky, GpsdReportsEverySatelliteWithItsSystemAndUsedFlag)
{
    TRAJIX_REQUIRE_TOOLS("/usr/sbin/gpsd", "/usr/bin/gpspipe", "/usr/bin/socat");
    TempDir dir;
    // Twenty seconds of a four-system sky written as the writers write it.
    const NmeaSystems all = parseNmeaSystems("gps,galileo,beidou,glonass");
    Random random;
    std::string text;
    const double latitude = 48.1173, longitude = 11.5167;
    const sky::ReceiverFrame frame = sky::receiverFrame(geodeticToEcef(latitude, longitude, 500));
    for (int second = 0; second < 20; ++second) {
        const sky::SkyView view = sky::viewOf(randomSky(random), frame, 5, 24, {});
        ASSERT_TRUE(view.pdop);
        const std::string time = formatNmeaTime(43200 + second);
        text += withTalker(ggaSentence(time, latitude, longitude, "500.00", view), all.talker());
        text += withTalker(rmcSentence(time, latitude, longitude, 0, 0, {2025, 7, 1}, VtgStyle::Route), all.talker());
        text += gsaSentences(view, all, formatDop(*view.pdop), formatDop(*view.hdop), formatDop(*view.vdop));
        text += gsvSentences(view, all);
    }
    const auto file = dir / "four.nmea";
    writeFileBytes(file, text);
    EXPECT_GE(gpsdAgreesWith(file, dir), 15);
}

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

const std::string mixedFile = "sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx";

}  // namespace

TEST(MultiSystemCommandLine, ARealMixedFileGivesFourSystemsThatGpsdReads)
{
    TRAJIX_REQUIRE_TOOLS("/usr/sbin/gpsd", "/usr/bin/gpspipe", "/usr/bin/socat");
    TempDir dir;
    const auto file = dir / "four.nmea";
    const auto r = trajix::test::runTrajix({"route", dataFile("route/corner.kml").string(), "-o", file.string(),
                                            "--sky", dataFile(mixedFile).string(), "--date", "2018-06-19",
                                            "--start-time", "37800", "--rate", "1", "--stationary-start", "2", "--rmc",
                                            "--vtg", "--zda", "--systems", "gps,galileo,beidou,glonass"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Per sample: GN position sentences, a GSA per system in ID order; every second each
    // system's GSV. In use: as many as GGA says, up to 24 of those in view.
    std::map<std::string, int> sentences;
    std::map<std::string, std::set<int>> seen;  // talker: satellite numbers
    int samples = 0;
    std::vector<std::string> gsaTalkers;
    int ggaUsed = 0, gsaUsed = 0, inView = 0;
    const auto sampleEnds = [&] {
        EXPECT_EQ(gsaTalkers, (std::vector<std::string>{"GP", "GL", "GA", "GB"}));
        EXPECT_EQ(gsaUsed, ggaUsed);
        EXPECT_EQ(ggaUsed, std::min(24, inView));
    };
    for (const std::string& line : linesOf(readFileBytes(file))) {
        const auto f = fieldsOf(line);
        const std::string talker = f[0].substr(1, 2), type = f[0].substr(3);
        ++sentences[f[0].substr(1)];
        if (type == "GGA") {
            if (samples > 0) sampleEnds();
            gsaTalkers.clear();
            gsaUsed = inView = 0;
            ggaUsed = std::stoi(f[7]);
            ++samples;
        } else if (type == "GSA") {
            gsaTalkers.push_back(talker);
            EXPECT_EQ(f.back(), std::to_string(gsaTalkers.size()));
            for (std::size_t k = 3; k < 15; ++k) gsaUsed += !f[k].empty();
        } else if (type == "GSV") {
            if (f[2] == "1") inView += std::stoi(f[3]);
            for (std::size_t k = 4; k + 3 < f.size(); k += 4) seen[talker].insert(std::stoi(f[k]));
        } else {
            EXPECT_EQ(talker, "GN") << line;
        }
    }
    sampleEnds();
    EXPECT_GT(samples, 20);
    for (const std::string type : {"GNRMC", "GNVTG", "GNZDA"}) EXPECT_GT(sentences[type], 0) << type;
    EXPECT_EQ(sentences.count("GPGGA") + sentences.count("GPRMC"), 0u);
    // Each system's satellites by their NMEA 4.11 numbers (in 2018 Europe saw few
    // Galileo and BeiDou satellites).
    ASSERT_EQ(seen.size(), 4u);
    for (const int n : seen["GP"]) EXPECT_TRUE(n >= 1 && n <= 32) << n;
    for (const int n : seen["GA"]) EXPECT_TRUE(n >= 1 && n <= 36) << n;
    for (const int n : seen["GB"]) EXPECT_TRUE(n >= 1 && n <= 63) << n;
    for (const int n : seen["GL"]) EXPECT_TRUE(n >= 65 && n <= 96) << n;
    for (const auto& [talker, numbers] : seen) EXPECT_GE(numbers.size(), 2u) << talker;

    EXPECT_GE(gpsdAgreesWith(file, dir), 10);
}

TEST(MultiSystemCommandLine, OneSystemOtherThanGpsSpeaksWithItsOwnTalker)
{
    TempDir dir;
    // A drive in Madrid at 10:30 UTC, within the file's records.
    writeFileBytes(dir / "drive.txt",
                   "lat=40.44\nlong=-3.95\nheight=650\ntime=37800\nvel=36\nhdg=-90@9s\nhdg=200@4s\nwait 2s\n.end\n");
    const auto file = dir / "galileo.nmea";
    const auto r = trajix::test::runTrajix({"script", (dir / "drive.txt").string(), "-o", file.string(), "--rate", "5",
                                            "--hdt-gll", "--rmc", "--zda", "--sky", dataFile(mixedFile).string(),
                                            "--date", "2018-06-19", "--systems", "galileo", "--max-used", "6"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Every sentence from GA; in use up to six of the Galileo satellites in view.
    int gsa = 0;
    long used = 0;
    for (const std::string& line : linesOf(readFileBytes(file))) {
        ASSERT_EQ(line.substr(0, 3), "$GA") << line;
        const auto f = fieldsOf(line);
        if (f[0] == "$GAGSA") {
            EXPECT_EQ(f.back(), "3");
            used = std::count_if(f.begin() + 3, f.begin() + 15, [](const auto& x) { return !x.empty(); });
            ++gsa;
        } else if (f[0] == "$GAGSV" && f[2] == "1") {
            EXPECT_EQ(used, std::min(6, std::stoi(f[3]))) << line;
        }
    }
    EXPECT_GT(gsa, 10);
}
