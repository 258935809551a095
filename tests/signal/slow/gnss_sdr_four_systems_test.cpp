// GNSS-SDR, an independent receiver, navigates with all four systems at once: one
// wideband recording (8-bit I/Q at 48000 kHz about the default centre of 1582.469 MHz)
// of GPS L1 C/A, Galileo E1, BeiDou B1I and GLONASS L1 C/A, made from a real mixed
// navigation file (ESBC00DNK, 2020-06-25) at its own date and place with the atmosphere
// on, read with the shipped four-system configuration. Every satellite of each system
// within the receiver's reach is tracked and its ephemeris decoded; the receiver's fixes
// of the last 20 s are computed from satellites of all four systems together (a GSA
// sentence of each system beside every GGA) and lie within 10 m RMS of the truth; the UTC
// time the receiver tells is the day's.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "geo/geodesy.hpp"
#include "gnss_sdr_support.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

// Esbjerg's day: 9 GPS, 8 Galileo, 10 BeiDou and 7 GLONASS satellites above 10 degrees.
// The start lies 16 s before a D1 frame, 2 s before a GPS frame and 20 s before a
// Galileo I/NAV subframe; every system's ephemeris is read by some 50 s in.
using esbjergDay::duration;
using esbjergDay::highestBeidouPrnOfTheReceiver;
using esbjergDay::leapSeconds;
using esbjergDay::start;

// GNSS-SDR 0.0.17's three-band receiver keeps losing the GLONASS channels above +2
// within a second of taking them up (a GLONASS-only receiver on the same recording
// holds them): it tracks them but reads no string of theirs.
constexpr int highestGlonassChannelHeld = 2;

// GNSS-SDR writes a GSA sentence for each system in use, told by its talker (its system
// ID field gives BeiDou the 3 of Galileo).
const std::set<std::string> everySystem{"GP", "GA", "BD", "GL"};

struct FourSystemRun {
    std::set<std::string> inSignal;                   // "G08", "E05", "C21", "R04"
    std::set<std::string> tracked, ephemerisRead;     // the same names; GLONASS by slot
    std::vector<std::set<std::string>> systemsInUseLastSeconds;  // talkers, per GGA of the last 20 s
    ReceiverRun receiver;
};

// The talkers of the GSA sentences that list satellites, one set per GGA, for the GGA
// sentences from the recording's second `from` (GPS time of day) on.
std::vector<std::set<std::string>> systemsInUse(const std::string& nmea, double from)
{
    std::vector<std::set<std::string>> epochs;
    std::set<std::string> current;
    bool counting = false;
    std::istringstream lines(nmea);
    std::string line;
    std::smatch match;
    const std::regex gga(R"(^\$..GGA,(\d\d)(\d\d)(\d\d\.\d+),)");
    const std::regex gsa(R"(^\$(..)GSA,[AM],[123],((?:\d*,){12}))");
    while (std::getline(lines, line)) {
        if (std::regex_search(line, match, gga)) {
            if (counting) epochs.push_back(current);
            current.clear();
            const double secondOfDay = std::stoi(match[1]) * 3600 + std::stoi(match[2]) * 60 + std::stod(match[3]);
            counting = secondOfDay + leapSeconds >= from;
        } else if (std::regex_search(line, match, gsa) && match[2].str().find_first_not_of(',') != std::string::npos) {
            current.insert(match[1]);
        }
    }
    if (counting) epochs.push_back(current);
    return epochs;
}

FourSystemRun navigate(const TempDir& dir)
{
    const auto profile = dir / "profile.txt";
    writeFileBytes(profile, esbjergDay::profile("gps,galileo,beidou,glonass", 48000,
                                                dataFile("signal/ESBC00DNK_R_20201770000_1300-1600_MN.rnx")));
    const auto samples = dir / "recording.iq";
    const auto generated = runProgram((toolFolder / "TrajixBinary").string(),
                                      {"--threads", "2", "--output", samples.string(), profile.string()});
    EXPECT_EQ(generated.exitCode, 0) << generated.err;
    FourSystemRun run;
    std::smatch match;
    if (std::regex_search(generated.out, match, std::regex(R"(satellites above the mask:(.*))"))) {
        std::istringstream names(match[1].str());
        std::string name;
        while (names >> name) run.inSignal.insert(std::isdigit(name.front()) ? fmt::format("G{:02}", std::stoi(name)) : name);
    }

    // The shipped configuration reads the recording by the names it gives its three
    // bands; with the receiver's Klobuchar and Saastamoinen models, as the signal has the
    // broadcast ionosphere and the standard troposphere.
    std::string configuration = readFileBytes(std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" /
                                              "gnss-sdr-four-systems.conf");
    for (const std::string band : {"0", "1", "2"}) {
        const std::string key = "SignalSource.filename" + band + "=recording.iq";
        configuration.replace(configuration.find(key), key.size(),
                              "SignalSource.filename" + band + "=" + samples.string());
    }
    configuration.replace(configuration.find("iono_model=OFF"), 14, "iono_model=Broadcast");
    configuration.replace(configuration.find("trop_model=OFF"), 14, "trop_model=Saastamoinen");
    writeFileBytes(dir / "receiver.conf", configuration);
    std::filesystem::create_directories(dir / "receiver");
    run.receiver = runReceiverOn(samples, dir / "receiver.conf", dir / "receiver", "2020-06-25 14:30:00");
    std::filesystem::remove(samples);

    // Console lines of tracking and of ephemerides, one pattern per system; GLONASS
    // names the slot it believes the channel holds until string 4 gives the slot, so
    // its tracking is told by frequency channel, its ephemeris by the slot.
    const std::regex gpsTracked(R"(Tracking of GPS L1 C/A signal started on channel \d+ for satellite GPS PRN (\d+))");
    const std::regex galileoTracked(R"(Tracking of Galileo E1\w* signal started on channel \d+ for satellite Galileo PRN E?(\d+))");
    const std::regex beidouTracked(R"(Tracking of Beidou B1I signal started on channel \d+ for satellite Beidou PRN (\d+))");
    const std::regex glonassTracked(
        R"(Tracking of GLONASS L1 C/A signal started on channel \d+ for satellite Glonass PRN \d+ \(Block (-?\d+)\))");
    const std::regex gpsEphemeris(R"(New GPS NAV message received in channel \d+: subframe 3 from satellite GPS PRN (\d+))");
    const std::regex galileoEphemeris(
        R"(New Galileo E1 I/NAV message received in channel \d+: ephemeris from satellite Galileo PRN E?(\d+))");
    const std::regex beidouEphemeris(
        R"(New BEIDOU B1I DNAV message received in channel \d+: ephemeris from satellite Beidou PRN (\d+))");
    const std::regex glonassEphemeris(
        R"(New GLONASS L1 GNAV message received in channel \d+: ephemeris from satellite Glonass PRN (\d+))");
    std::istringstream lines(run.receiver.console);
    std::string line;
    while (std::getline(lines, line)) {
        const auto named = [&](const std::regex& pattern, char system, std::set<std::string>& into) {
            if (std::regex_search(line, match, pattern)) into.insert(fmt::format("{}{:02}", system, std::stoi(match[1])));
        };
        named(gpsTracked, 'G', run.tracked);
        named(galileoTracked, 'E', run.tracked);
        named(beidouTracked, 'C', run.tracked);
        named(glonassTracked, 'k', run.tracked);  // "k-4": the frequency channel
        named(gpsEphemeris, 'G', run.ephemerisRead);
        named(galileoEphemeris, 'E', run.ephemerisRead);
        named(beidouEphemeris, 'C', run.ephemerisRead);
        named(glonassEphemeris, 'R', run.ephemerisRead);
    }
    std::string nmea;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "receiver"))
        if (entry.path().extension() == ".nmea") nmea += readFileBytes(entry.path());
    run.systemsInUseLastSeconds = systemsInUse(nmea, start - 4 * 86400 + duration - lastSeconds);
    return run;
}

// The GLONASS frequency channels of the satellites in the file at the time, by slot.
const std::map<std::string, int> glonassChannel{{"R04", 6},  {"R05", 1},  {"R11", 0}, {"R12", -1},
                                                {"R19", 3},  {"R20", 2},  {"R21", 4}};

}  // namespace

// Some twenty minutes of two cores: run by scripts/heavy.sh, not in the time of CI.
TEST(GnssSdrFourSystems, OneWidebandRecordingNavigatedWithEverySystemTogether)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/faketime");
    if (!std::getenv("TRAJIX_HEAVY_CHECKS")) GTEST_SKIP() << "a heavy check: scripts/heavy.sh runs it";
    TempDir dir;
    const FourSystemRun run = navigate(dir);
    // Every satellite within reach tracked; the ephemeris of each read, but for one a
    // system at most whose channel lost lock (as the other checks allow one).
    std::map<char, int> withinReach, unread;
    for (const std::string& satellite : run.inSignal) {
        const char system = satellite.front();
        if (system == 'C' && std::stoi(satellite.substr(1)) > highestBeidouPrnOfTheReceiver) continue;
        ++withinReach[system];
        if (system == 'R') {
            const auto channel = glonassChannel.find(satellite);
            ASSERT_NE(channel, glonassChannel.end()) << satellite << " is not among the day's satellites";
            EXPECT_TRUE(run.tracked.count(fmt::format("k{:02}", channel->second)))
                << satellite << " (channel " << channel->second << ") was never tracked";
            if (channel->second > highestGlonassChannelHeld) continue;
        } else {
            EXPECT_TRUE(run.tracked.count(satellite)) << satellite << " was never tracked";
        }
        if (!run.ephemerisRead.count(satellite)) {
            std::printf("%s: no ephemeris decoded\n", satellite.c_str());
            ++unread[system];
        }
    }
    for (const char system : {'G', 'E', 'C', 'R'}) {
        EXPECT_GE(withinReach[system], 5) << system;
        EXPECT_LE(unread[system], 1) << system;
    }

    // Every fix of the last 20 s from the satellites of all four systems together.
    EXPECT_GE(run.systemsInUseLastSeconds.size(), 15u);
    for (const auto& systems : run.systemsInUseLastSeconds) {
        std::string told;
        for (const std::string& talker : systems) told += talker + " ";
        EXPECT_EQ(systems, everySystem) << "a fix from the satellites of " << told;
    }
    checkStillReceiverOfTheDay(run.receiver, start, duration, esbjergDay::place, "250620", 4 * 86400, leapSeconds);
}

}  // namespace trajix::test
