// GNSS-SDR, an independent receiver, navigates with the GLONASS L1 C/A signal: a
// recording of GLONASS alone, centred at 1602 MHz, made from a real mixed navigation
// file (VILL00ESP, 2018-06-19) at its own date with the atmosphere on, read with the
// shipped configuration. Each GLONASS satellite of the signal is tracked on its own
// frequency channel and its strings pass the Hamming check with the ephemeris decoded;
// the fixes of the last 20 s lie within 10 m RMS of the truth; the UTC time the
// receiver tells is the day's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "geo/geodesy.hpp"
#include "gnss_sdr_support.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

// Villafranca at 04:00 UTC: R06, R07, R08, R09, R10 and R16 above 20 degrees, on
// channels -4, 5, 6, -2, -7 and -1 (the file's, which GNSS-SDR's own table of slots
// agrees with). The start is 12 s before a 30-s frame of UTC(SU) + 3 h, so the receiver
// reads strings 1-5 of the first whole frame and fixes about 25 s in; a satellite
// acquired late reads them in the next frame, by 55 s.
constexpr int leapSeconds = 18;
constexpr double start = 2 * 86400 + 3 * 3600 + 59 * 60 + 48 + leapSeconds;
constexpr int duration = 64;
const Ecef villafranca = geodeticToEcef(40.4436, -3.9521, 650);
// The shipped configuration's rate: channels -7 to +6 about 1602 MHz with their main lobes.
constexpr int glonassRateKHz = 9000;
const std::filesystem::path glonassConfiguration =
    std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-glonass-l1.conf";

// The satellites above the mask and their frequency channels in the file.
const std::map<int, int> channelOf{{6, -4}, {7, 5}, {8, 6}, {9, -2}, {10, -7}, {16, -1}};

// GNSS-SDR looks for a slot on the channel of its own table and names the channel it
// tracks by that slot ("PRN 02 (Block -4)" for R06, which shares channel -4 with R02 on
// the far side of the Earth) until string 4 gives the slot: tracking and the Hamming
// checks are counted by channel, the ephemeris by the slot it names.
struct GlonassRun {
    std::set<int> inSignal;  // slots of the GLONASS satellites the generator lists
    std::set<int> trackedChannels, ephemerisRead;
    std::map<int, int> stringsPassed, stringsFailed;  // per frequency channel
    ReceiverRun receiver;
};

GlonassRun navigate(const TempDir& dir)
{
    const auto profile = dir / "profile.txt";
    writeFileBytes(profile, fmt::format("[Receiver Dynamics]\r\nStatic=1\r\nLatitude_in_deg=40.4436\r\n"
                                        "Longitude_in_deg=-3.9521\r\nAltitude_in_m=650\r\nGPS_Week=982\r\n"
                                        "GPS_Start_Time_in_sec={}\r\nDuration_in_sec={}\r\n"
                                        "Source_NMEA_file=none.nme\r\nSimulation_Day=19\r\nSimulation_Mon=6\r\n"
                                        "Simulation_Year=2018\r\nAlmanac_File=none.alm\r\nMask_in_deg=10\r\n"
                                        "NoiseFigure_in_dB=0\r\nIFFreq_in_Hz=0\r\nSampleRate_in_KHz={}\r\n"
                                        "IQ_format=IQ\r\nbitPerSample=8\r\nEphemeris_File={}\r\nSystems=glonass\r\n",
                                        start, duration, glonassRateKHz,
                                        dataFile("signal/VILL00ESP_R_20181700000_0200-0659_R.rnx").string()));
    const auto samples = dir / "recording.iq";
    const auto generated =
        runProgram((toolFolder / "TrajixBinary").string(), {"--output", samples.string(), profile.string()});
    EXPECT_EQ(generated.exitCode, 0) << generated.err;
    GlonassRun run;
    std::smatch match;
    const std::regex listed(R"(satellites above the mask:(.*))");
    if (std::regex_search(generated.out, match, listed)) {
        std::istringstream names(match[1].str());
        std::string name;
        while (names >> name)
            if (name.front() == 'R') run.inSignal.insert(std::stoi(name.substr(1)));
    }

    // The receiver with its Klobuchar and Saastamoinen models, as the signal has the
    // broadcast ionosphere and the standard troposphere.
    std::string configuration = readFileBytes(glonassConfiguration);
    configuration.replace(configuration.find("iono_model=OFF"), 14, "iono_model=Broadcast");
    configuration.replace(configuration.find("trop_model=OFF"), 14, "trop_model=Saastamoinen");
    writeFileBytes(dir / "receiver.conf", configuration);
    std::filesystem::create_directories(dir / "receiver");
    run.receiver = runReceiverOn(samples, dir / "receiver.conf", dir / "receiver", "2018-06-19 05:00:00");
    std::filesystem::remove(samples);
    const std::regex tracking(
        R"(Tracking of GLONASS L1 C/A signal started on channel \d+ for satellite Glonass PRN \d+ \(Block (-?\d+)\))");
    const std::regex ephemeris(
        R"(New GLONASS L1 GNAV message received in channel \d+: ephemeris from satellite Glonass PRN (\d+))");
    std::istringstream lines(run.receiver.console);
    std::string line;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, match, tracking)) run.trackedChannels.insert(std::stoi(match[1]));
        if (std::regex_search(line, match, ephemeris)) run.ephemerisRead.insert(std::stoi(match[1]));
    }
    const std::regex crc(
        R"(GLONASS GNAV CRC (correct|error) in channel \d+ from satellite Glonass PRN \d+ \(Block (-?\d+)\))");
    const auto log = dir / "receiver" / "gnss-sdr.INFO";
    std::istringstream info(std::filesystem::exists(log) ? readFileBytes(log) : std::string());
    while (std::getline(info, line))
        if (std::regex_search(line, match, crc))
            ++(match[1] == "correct" ? run.stringsPassed : run.stringsFailed)[std::stoi(match[2])];
    return run;
}

}  // namespace

TEST(GnssSdrGlonass, GlonassAloneFromARealMixedFileWithTheAtmosphere)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/faketime");
    TempDir dir;
    const GlonassRun run = navigate(dir);
    std::set<int> expected;
    for (const auto& [slot, channel] : channelOf) expected.insert(slot);
    EXPECT_EQ(run.inSignal, expected);
    for (const auto& [slot, channel] : channelOf) {
        EXPECT_TRUE(run.trackedChannels.count(channel))
            << "R" << slot << " (channel " << channel << ") was never tracked";
        EXPECT_TRUE(run.ephemerisRead.count(slot)) << "R" << slot << ": no ephemeris decoded";
        // Strings 1-5 at least; a string cut as tracking starts or ends may fail.
        const auto passed = run.stringsPassed.find(channel), failed = run.stringsFailed.find(channel);
        EXPECT_GE(passed == run.stringsPassed.end() ? 0 : passed->second, 5) << "R" << slot;
        EXPECT_LE(failed == run.stringsFailed.end() ? 0 : failed->second, 1) << "R" << slot;
    }
    checkStillReceiverOfTheDay(run.receiver, start, duration, villafranca, "190618", 2 * 86400, leapSeconds);
}

}  // namespace trajix::test
