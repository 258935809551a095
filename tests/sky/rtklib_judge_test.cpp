// RTKLIB as the judge of every system's orbits. Its rnx2rtkp reads the navigation file
// itself, computes each satellite's position with its own code, solves the receiver's
// position and prints every satellite's azimuth and elevation in its solution status
// ($SAT lines of `-y 2`, to a tenth of a degree). Our sky, at RTKLIB's solution and time,
// agrees within 0.1 degree for every satellite it lists:
// - a real receiver's observations with its own navigation file (GPS and Galileo);
// - the mixed VILL00ESP navigation file (GPS, Galileo, BeiDou, GLONASS) with
//   observations written here from our own model (ranges at a place and time): RTKLIB
//   solves from them only if its satellite positions agree with ours, and it lists each
//   satellite at the angles its own orbit gives.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "sky/sky_model.hpp"
#include "test_support.hpp"

using namespace trajix;
using sky::GnssSystem;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

constexpr const char* rnx2rtkp = "/usr/bin/rnx2rtkp";

struct Listed {
    std::string satellite;  // "G05", "E11", "C06", "R14"
    double azimuth = 0, elevation = 0;
    double residual = 0;  // of the code range after RTKLIB's solution, metres
};

struct RtklibEpoch {
    double tow = 0;  // GPS seconds of week
    double latitude = 0, longitude = 0, height = 0;
    std::vector<Listed> satellites;
};

std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
    return fields;
}

// Runs rnx2rtkp single-point on obs and nav for the systems ("G,E") and gathers its
// solutions (.pos) and the satellites of each ($SAT lines of .pos.stat).
std::map<long long, RtklibEpoch> rtklibSolutions(const std::filesystem::path& obs, const std::filesystem::path& nav,
                                                 const std::string& systems, const TempDir& dir)
{
    const std::filesystem::path pos = dir / "solution.pos";
    const auto result = runProgram(
        rnx2rtkp, {"-p", "0", "-sys", systems, "-m", "5", "-y", "2", "-o", pos.string(), obs.string(), nav.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::map<long long, RtklibEpoch> epochs;
    std::istringstream solutions(readFileBytes(pos));
    for (std::string line; std::getline(solutions, line);) {
        if (line.empty() || line[0] == '%') continue;
        std::istringstream fields(line);
        int week = 0;
        RtklibEpoch e;
        fields >> week >> e.tow >> e.latitude >> e.longitude >> e.height;
        epochs[std::llround(e.tow)] = e;
    }
    std::istringstream status(readFileBytes(pos.string() + ".stat"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("$SAT,", 0) != 0) continue;
        const auto f = split(line, ',');
        const auto at = epochs.find(std::llround(std::stod(f[2])));
        if (at == epochs.end()) continue;
        at->second.satellites.push_back({f[3], std::stod(f[5]), std::stod(f[6]), std::stod(f[7])});
    }
    return epochs;
}

std::string satelliteId(GnssSystem system, int number)
{
    return fmt::format("{}{:02}", sky::rinexLetter(system), number);
}

// Compares RTKLIB's azimuths and elevations with our model's at RTKLIB's solutions;
// returns how many satellites of each system were compared.
std::map<char, int> compare(const sky::SkyModel& model, int week, const std::map<long long, RtklibEpoch>& epochs)
{
    std::map<char, int> compared;
    for (const auto& [second, epoch] : epochs) {
        auto anchored = model;
        anchored.anchor(week, epoch.tow);
        const Ecef receiver = geodeticToEcef(epoch.latitude, epoch.longitude, epoch.height);
        const sky::ReceiverFrame frame = sky::receiverFrame(receiver);
        std::map<std::string, std::size_t> index;
        for (std::size_t i = 0; i < anchored.size(); ++i) index[satelliteId(anchored.system(i), anchored.prn(i))] = i;
        for (const Listed& listed : epoch.satellites) {
            const auto found = index.find(listed.satellite);
            if (listed.satellite[0] == 'J') continue;  // QZSS is not in our sky
            if (found == index.end()) {
                ADD_FAILURE() << listed.satellite << " is not in our sky at " << epoch.tow;
                continue;
            }
            const auto signal = anchored.signalAt(found->second, epoch.tow, receiver);
            if (!signal) {
                ADD_FAILURE() << listed.satellite << " has no orbit at " << epoch.tow;
                continue;
            }
            const double elevation = sky::elevationDegrees(frame, signal->position);
            const double azimuth = sky::azimuthDegrees(frame, signal->position);
            // RTKLIB prints a tenth of a degree: its rounding and our 0.1 degree.
            EXPECT_NEAR(elevation, listed.elevation, 0.15) << listed.satellite << " at " << epoch.tow;
            EXPECT_NEAR(std::remainder(azimuth - listed.azimuth, 360.0), 0,
                        0.15 / std::max(0.1, std::cos(elevation * std::numbers::pi / 180)))
                << listed.satellite << " at " << epoch.tow;
            ++compared[listed.satellite[0]];
        }
    }
    return compared;
}

std::string headerLine(const std::string& content, const std::string& label)
{
    return fmt::format("{:<60}{:<20}\n", content, label);
}

}  // namespace

TEST(RtklibJudge, RealReceiverWithItsNavigationFile)
{
    TRAJIX_REQUIRE_TOOLS(rnx2rtkp);
    TempDir dir;
    const auto obs = dataFile("sky/SEPT265G_0630-0631.21O");
    const auto nav = dataFile("sky/SEPT2650_0400-0800.21P");
    const auto epochs = rtklibSolutions(obs, nav, "G,E", dir);
    ASSERT_GE(epochs.size(), 8u);
    const auto model = sky::SkyModel::fromFile(nav, 2176, {GnssSystem::gps, GnssSystem::galileo});
    const auto compared = compare(model, 2176, epochs);
    EXPECT_GE(compared.count('G') ? compared.at('G') : 0, 5 * 8);
    EXPECT_GE(compared.count('E') ? compared.at('E') : 0, 5 * 8);
}

TEST(RtklibJudge, EverySystemOfAMixedFileFromRangesOfOurModel)
{
    TRAJIX_REQUIRE_TOOLS(rnx2rtkp);
    TempDir dir;
    const auto nav = dataFile("sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx");
    const sky::SystemSet every{GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou, GnssSystem::glonass};
    auto model = sky::SkyModel::fromFile(nav, 2006, every);
    const int week = 2006;
    const double start = 2 * 86400 + 11 * 3600;  // 2018-06-19 11:00:00 GPS time
    model.anchor(week, start);
    // Villafranca, where the file was recorded.
    const Ecef receiver = geodeticToEcef(40.4436, -3.9520, 647);
    const sky::ReceiverFrame frame = sky::receiverFrame(receiver);

    std::string text;
    text += headerLine("     3.03           OBSERVATION DATA    M", "RINEX VERSION / TYPE");
    text += headerLine("trajix tests        trajix              20180619 110000 UTC", "PGM / RUN BY / DATE");
    text += headerLine("VILL", "MARKER NAME");
    text += headerLine("", "OBSERVER / AGENCY");
    text += headerLine("0                   sky model           0", "REC # / TYPE / VERS");
    text += headerLine("0                   none", "ANT # / TYPE");
    text +=
        headerLine(fmt::format("{:14.4f}{:14.4f}{:14.4f}", receiver.x, receiver.y, receiver.z), "APPROX POSITION XYZ");
    text += headerLine("        0.0000        0.0000        0.0000", "ANTENNA: DELTA H/E/N");
    for (const char* types : {"G    1 C1C", "E    1 C1C", "C    1 C2I", "R    1 C1C"})
        text += headerLine(types, "SYS / # / OBS TYPES");
    text += headerLine("  2018     6    19    11     0    0.0000000     GPS", "TIME OF FIRST OBS");
    text += headerLine("", "END OF HEADER");
    std::map<char, int> written;
    for (int second = 0; second < 5; ++second) {
        const double t = start + second;
        std::string lines;
        int count = 0;
        for (std::size_t i = 0; i < model.size(); ++i) {
            const auto signal = model.signalAt(i, t, receiver);
            if (!signal || sky::elevationDegrees(frame, signal->position) < 6) continue;
            // The code range a receiver measures: the travel and the satellite's clock.
            const double range = (signal->travel - signal->clockOffset) * gps::speedOfLight;
            lines += fmt::format("{}{:14.3f}\n", satelliteId(model.system(i), model.prn(i)), range);
            ++count;
            if (second == 0) ++written[sky::rinexLetter(model.system(i))];
        }
        text += fmt::format("> 2018 06 19 11 00 {:10.7f}  0{:3}\n", static_cast<double>(second), count);
        text += lines;
    }
    // Above Villafranca at that time: two BeiDou satellites (C05 geostationary, C13
    // inclined geosynchronous) and several of each other system.
    for (const char letter : {'G', 'E', 'R'}) EXPECT_GE(written[letter], 4) << letter;
    EXPECT_GE(written['C'], 2);
    const auto obs = dir / "vill.obs";
    writeFileBytes(obs, text);

    const auto epochs = rtklibSolutions(obs, nav, "G,R,E,C", dir);
    ASSERT_EQ(epochs.size(), 5u);
    for (const auto& [second, epoch] : epochs) {
        // RTKLIB's solution from our ranges lands on the place they were made for.
        const Ecef solved = geodeticToEcef(epoch.latitude, epoch.longitude, epoch.height);
        EXPECT_LT(std::hypot(solved.x - receiver.x, solved.y - receiver.y, solved.z - receiver.z), 5.0) << epoch.tow;
        // Every satellite written is used.
        std::map<char, int> listed;
        for (const Listed& l : epoch.satellites) ++listed[l.satellite[0]];
        for (const auto& [letter, count] : written) EXPECT_EQ(listed[letter], count) << letter << " at " << epoch.tow;
        // RTKLIB's own orbit and clock of each satellite leave our range within a metre
        // (most within centimetres; the rest is the clocks' group delays).
        for (const Listed& l : epoch.satellites)
            EXPECT_LT(std::abs(l.residual), 1.0) << l.satellite << " at " << epoch.tow;
    }
    const auto compared = compare(model, week, epochs);
    for (const char letter : {'G', 'E', 'C', 'R'})
        EXPECT_EQ(compared.count(letter) ? compared.at(letter) : 0, 5 * written[letter]) << letter;
}
