// GNSS-SDR, an independent receiver, navigates with the Galileo E1 signal: a recording
// of Galileo alone standing still and one of GPS with Galileo driving at 50 km/h, made
// from a real mixed navigation file (VILL00ESP, 2018-06-19) at its own date with the
// atmosphere on, each read with its shipped configuration (8-bit I/Q at 8000 kHz). Each Galileo satellite of the signal
// is tracked and its I/NAV ephemeris decoded; the fixes of the last 20 s lie within 10 m
// RMS of the truth; the UTC time the receiver tells is the day's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <numbers>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "geo/geodesy.hpp"
#include "gnss_sdr_support.hpp"
#include "test_support.hpp"
#include "tests/scenario/scenario_fixtures.hpp"

namespace trajix::test {
namespace {

// Villafranca at 07:05 GPS time: seven Galileo satellites above 5 degrees, ten GPS ones.
// The start is 20 s before a 30-s I/NAV subframe, so the receiver reads words 1-5 of
// the first whole one and fixes about 46 s in; a low satellite acquired later reads
// them in the next subframe, by 76 s.
constexpr double start = 2 * 86400 + 7 * 3600 + 310;
constexpr int duration = 96;
constexpr int leapSeconds = 18;
const Ecef villafranca = geodeticToEcef(40.4436, -3.9521, 650);

struct GalileoRun {
    std::set<std::string> inSignal;  // Galileo satellites the generator lists, "E05"
    std::set<std::string> tracked, ephemerisRead;
    ReceiverRun receiver;
};

// A straight drive at 50 km/h, heading 060, on the tangent plane of Villafranca: the
// truth at any time lies on that line, however the generator interpolates its path.
Ecef drivenAt(double t)
{
    const double speed = 50 / 3.6, heading = 60 * std::numbers::pi / 180;
    GeoState geo;
    setLocalOrigin(geo, 40.4436, -3.9521, 650);
    ENUtoECEF(geo, speed * t * std::sin(heading), speed * t * std::cos(heading), 0);
    return Ecef{static_cast<double>(geo.ecefX), static_cast<double>(geo.ecefY), static_cast<double>(geo.ecefZ)};
}

GalileoRun navigate(const TempDir& dir, const std::string& systems, const std::filesystem::path& shipped, bool driving)
{
    std::string receiver = "Static=1\r\nSource_NMEA_file=none.nme\r\n";
    if (driving) {
        GeoState geo;
        std::string nmea;
        for (int k = 0; k <= 10 * (duration + 1); ++k) {
            const Ecef p = drivenAt(k * 0.1);
            ECEFToLatLong(geo, p.x, p.y, p.z);
            nmea += gga(25200 + 310 + k * 0.1, static_cast<double>(geo.geoLatitude),
                        static_cast<double>(geo.geoLongitude), static_cast<double>(geo.geoHeight));
        }
        writeFileBytes(dir / "path.nme", nmea);
        receiver = fmt::format("Static=0\r\nSource_NMEA_file={}\r\n", (dir / "path.nme").string());
    }
    const auto profile = dir / "profile.txt";
    writeFileBytes(profile, fmt::format("[Receiver Dynamics]\r\n{}Latitude_in_deg=40.4436\r\n"
                                        "Longitude_in_deg=-3.9521\r\nAltitude_in_m=650\r\nGPS_Week=982\r\n"
                                        "GPS_Start_Time_in_sec={}\r\nDuration_in_sec={}\r\n"
                                        "Simulation_Day=19\r\nSimulation_Mon=6\r\n"
                                        "Simulation_Year=2018\r\nAlmanac_File=none.alm\r\nMask_in_deg=10\r\n"
                                        "NoiseFigure_in_dB=0\r\nIFFreq_in_Hz=0\r\nSampleRate_in_KHz=8000\r\n"
                                        "IQ_format=IQ\r\nbitPerSample=8\r\nEphemeris_File={}\r\nSystems={}\r\n",
                                        receiver, start, duration,
                                        dataFile("signal/VILL00ESP_R_20181700000_0300-1100_GE.rnx").string(), systems));
    const auto samples = dir / "recording.iq";
    const auto generated =
        runProgram((toolFolder / "TrajixBinary").string(), {"--output", samples.string(), profile.string()});
    EXPECT_EQ(generated.exitCode, 0) << generated.err;
    GalileoRun run;
    std::smatch match;
    const std::regex listed(R"(satellites above the mask:(.*))");
    if (std::regex_search(generated.out, match, listed)) {
        std::istringstream names(match[1].str());
        std::string name;
        while (names >> name)
            if (name.front() == 'E') run.inSignal.insert(name);
    }

    // The receiver with its Klobuchar and Saastamoinen models, as the signal has the
    // broadcast ionosphere and the standard troposphere.
    std::string configuration = readFileBytes(shipped);
    configuration.replace(configuration.find("iono_model=OFF"), 14, "iono_model=Broadcast");
    configuration.replace(configuration.find("trop_model=OFF"), 14, "trop_model=Saastamoinen");
    writeFileBytes(dir / "receiver.conf", configuration);
    std::filesystem::create_directories(dir / "receiver");
    run.receiver = runReceiverOn(samples, dir / "receiver.conf", dir / "receiver", "2018-06-19 08:00:00");
    std::filesystem::remove(samples);
    const std::regex tracking(
        R"(Tracking of Galileo E1\w* signal started on channel \d+ for satellite Galileo PRN (E\d+))");
    const std::regex ephemeris(
        R"(New Galileo E1 I/NAV message received in channel \d+: ephemeris from satellite Galileo PRN (E\d+))");
    std::istringstream lines(run.receiver.console);
    std::string line;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, match, tracking)) run.tracked.insert(match[1]);
        if (std::regex_search(line, match, ephemeris)) run.ephemerisRead.insert(match[1]);
    }
    return run;
}

// Every Galileo satellite of the signal tracked and its ephemeris read; the fixes of the
// last 20 s within 10 m RMS; every RMC on the day and on one of the receiver's seconds.
void check(const GalileoRun& run, const std::function<Ecef(double)>& truth)
{
    EXPECT_GE(run.inSignal.size(), 5u);
    for (const std::string& satellite : run.inSignal) {
        EXPECT_TRUE(run.tracked.count(satellite)) << satellite << " was never tracked";
        EXPECT_TRUE(run.ephemerisRead.count(satellite)) << "no I/NAV ephemeris decoded from " << satellite;
    }
    checkReceiverOfTheDay(run.receiver, start, duration, truth, "190618", 2 * 86400, leapSeconds);
}

}  // namespace

TEST(GnssSdrGalileo, GalileoAloneFromARealMixedFileWithTheAtmosphere)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/faketime");
    TempDir dir;
    check(navigate(dir, "galileo", std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-galileo-e1.conf",
                   false),
          [](double) { return villafranca; });
}

TEST(GnssSdrGalileo, GpsWithGalileoDrivingFromARealMixedFileWithTheAtmosphere)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/faketime");
    TempDir dir;
    check(navigate(dir, "gps,galileo", std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-gps-galileo.conf",
                   true),
          drivenAt);
}

}  // namespace trajix::test
