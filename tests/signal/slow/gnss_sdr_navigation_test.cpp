// Recordings checked by an independent software receiver: GNSS-SDR acquires, tracks
// and decodes our L1 C/A signal from the unpacked .bin recording, with the configuration
// kept in tools/, and navigates along the scenario's path at the scenario's time. With
// the broadcast ephemerides of a real day and the atmosphere's delays in the signal, its
// own ionosphere and troposphere models cancel them and it tells the day's UTC time.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <numbers>
#include <regex>
#include <set>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "geo/geodesy.hpp"
#include "gnss_sdr_support.hpp"
#include "scenario/plenarch.hpp"
#include "signal/receiver_path.hpp"
#include "test_support.hpp"
#include "tests/scenario/scenario_fixtures.hpp"

using namespace trajix;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::runTrajix;
using trajix::test::ScopedEnv;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;
using namespace trajix::test;

TEST(GnssSdrNavigation, StaticReceiverFromTheScenarioCommand)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string());
    TempDir dir;
    std::filesystem::create_directories(dir / "GPStools");
    std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "almanac.alm");
    const double latitude = 51.99888, longitude = -0.997777, height = 160;
    writeFileBytes(dir / "still.nme", gga(32400, latitude, longitude, height));
    ScopedEnv home("HOME", dir.path().string());
    const auto result =
        runTrajix({"scenario", (dir / "still.nme").string(), "--almanac", (dir / "almanac.alm").string(), "--week",
                   "314", "--start-time", fmt::format("{}", startSeconds), "--duration",
                   fmt::format("{}", durationSeconds), "--today", "2026-12-09", "--yes"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(readFileBytes(dir / "GPStools" / "profile.txt").find("\r\nDuration_in_sec = 60\r\n"), std::string::npos);
    ASSERT_EQ(std::filesystem::file_size(dir / "still.bin"), 60u * 2046000u);
    const std::set<int> satellites = generatedSatellites(result.out + result.err);
    std::filesystem::create_directories(dir / "receiver");
    const ReceiverRun run = runReceiver(dir / "still.bin", dir / "receiver");
    const Ecef position = geodeticToEcef(latitude, longitude, height);
    checkNavigation(run, satellites, [&](double) { return position; });
}

TEST(GnssSdrNavigation, ReceiverDrivingAt50KmhFromTheGenerator)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string());
    TempDir dir;
    const auto tools =
        writeWeek314Profile(dir.path(), fmt::format("{}", startSeconds), fmt::format("{}", durationSeconds));

    // A straight drive at 50 km/h, heading 060, on the tangent plane of its start: the
    // truth at any time is on that line, independent of how the generator interpolates.
    const double speed = 50 / 3.6, heading = 60 * std::numbers::pi / 180;
    GeoState geo;
    setLocalOrigin(geo, 51.9, -1.1, 120);
    const auto along = [&](double t) {
        ENUtoECEF(geo, speed * t * std::sin(heading), speed * t * std::cos(heading), 0);
        return Ecef{static_cast<double>(geo.ecefX), static_cast<double>(geo.ecefY), static_cast<double>(geo.ecefZ)};
    };
    std::string nmea;
    for (int k = 0; k <= 10 * (durationSeconds + 1); ++k) {
        const Ecef p = along(k * 0.1);
        ECEFToLatLong(geo, p.x, p.y, p.z);
        nmea += gga(36000 + k * 0.1, static_cast<double>(geo.geoLatitude), static_cast<double>(geo.geoLongitude),
                    static_cast<double>(geo.geoHeight));
    }
    writeFileBytes(tools / "nmeaInput.txt", nmea);
    const auto generated = runProgram((toolFolder / "TrajixBinary").string(), {(tools / "profile.txt").string()});
    ASSERT_EQ(generated.exitCode, 0) << generated.err;
    const auto converted = runTrajix({"dsf2bin", (tools / "output.dsf").string()});
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    std::filesystem::remove(tools / "output.dsf");
    std::filesystem::create_directories(dir / "receiver");
    const ReceiverRun run = runReceiver(tools / "output.bin", dir / "receiver");
    checkNavigation(run, generatedSatellites(generated.out), along);
}

// I/Q recordings for a radio: 8-bit at 2.6 MHz (a HackRF's) and 16-bit at 4 MHz (a
// USRP's or bladeRF's), baseband, a static receiver from the almanac, navigated by
// GNSS-SDR with the configurations shipped beside the one-bit one.
class GnssSdrIq : public testing::TestWithParam<int> {};

TEST_P(GnssSdrIq, StaticReceiverFromAnIqRecording)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/faketime");
    const int bits = GetParam();
    const int rateKHz = bits == 8 ? 2600 : 4000;
    TempDir dir;
    const auto tools =
        writeWeek314Profile(dir.path(), fmt::format("{}", startSeconds), fmt::format("{}", durationSeconds));
    const double latitude = 47.37, longitude = 8.54, height = 420;
    writeFileBytes(tools / "nmeaInput.txt", gga(32400, latitude, longitude, height));
    const auto recording = dir / "recording.iq";
    const auto generated = runProgram(
        (toolFolder / "TrajixBinary").string(),
        {"--iq-format", "IQ", "--bits-per-sample", fmt::format("{}", bits), "--sample-rate-khz",
         fmt::format("{}", rateKHz), "--if-hz", "0", "--output", recording.string(), (tools / "profile.txt").string()});
    ASSERT_EQ(generated.exitCode, 0) << generated.err;
    ASSERT_EQ(std::filesystem::file_size(recording), static_cast<std::uintmax_t>(durationSeconds) * 1000u *
                                                         static_cast<std::uintmax_t>(rateKHz) * 2u *
                                                         static_cast<std::uintmax_t>(bits / 8));
    std::filesystem::create_directories(dir / "receiver");
    const ReceiverRun run =
        runReceiverOn(recording, bits == 8 ? iq8Configuration : iq16Configuration, dir / "receiver");
    const Ecef position = geodeticToEcef(latitude, longitude, height);
    checkNavigation(run, generatedSatellites(generated.out), [&](double) { return position; });
}

INSTANTIATE_TEST_SUITE_P(EightAndSixteenBits, GnssSdrIq, testing::Values(8, 16),
                         [](const testing::TestParamInfo<int>& info) { return fmt::format("Bits{}", info.param); });

namespace {

// A day of real broadcast ephemerides and a still receiver under its sky. The start is
// 20 s before the frame whose subframe 4 is page 18 (ionosphere and UTC), so the
// receiver holds the broadcast coefficients before the last 20 s.
struct RinexDay {
    const char *file, *tenBitWeek, *day, *month, *year, *clock;
    Timing timing;
    int leapSeconds;  // GPS - UTC that day
};
const RinexDay day2010{
    "scenario/rinex/brdc1820_0814.10n", "566", "1", "7", "2010", "2010-07-01 12:00:00", {1590, 381490, 66}, 15};
const RinexDay day2018{"scenario/rinex/VILL00ESP_R_20181700000_0814_MN.rnx",
                       "982",
                       "19",
                       "6",
                       "2018",
                       "2018-06-19 12:00:00",
                       {2006, 212740, 66},
                       18};
const Ecef villafranca = geodeticToEcef(40.4436, -3.9521, 650);

// Records the day (its file named by the profile key or by the option) and runs GNSS-SDR
// on it with its Klobuchar and Saastamoinen models on, under a clock set to the day
// (the receiver takes the 1024-week era from its computer's clock); checks the fixes and
// that every RMC tells the day's date and, with its leap seconds, one of the receiver's
// whole seconds of GPS time, the same first to last.
// bits: 1 for the scenario step's one-bit recording, 8 for 8-bit I/Q at 2.6 MHz (a
// HackRF's), 16 for 16-bit I/Q at 4 MHz (a USRP's), each with its shipped configuration.
// drive: the receiver drives at 50 km/h, heading 060, from the still receiver's place,
// on the tangent plane of its start (the truth at any time lies on that line).
std::filesystem::path navigateDay(const TempDir& dir, const RinexDay& day, bool profileKey, int bits,
                                  bool drive = false)
{
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    const double speed = drive ? 50 / 3.6 : 0, heading = 60 * std::numbers::pi / 180;
    GeoState geo;
    setLocalOrigin(geo, 40.4436, -3.9521, 650);
    const auto along = [&](double t) {
        if (!drive) return villafranca;
        ENUtoECEF(geo, speed * t * std::sin(heading), speed * t * std::cos(heading), 0);
        return Ecef{static_cast<double>(geo.ecefX), static_cast<double>(geo.ecefY), static_cast<double>(geo.ecefZ)};
    };
    std::string nmea;
    for (int k = 0; k <= 10 * (day.timing.duration + 1); ++k) {
        const Ecef p = along(k * 0.1);
        ECEFToLatLong(geo, p.x, p.y, p.z);
        nmea += drive ? gga(36000 + k * 0.1, static_cast<double>(geo.geoLatitude),
                            static_cast<double>(geo.geoLongitude), static_cast<double>(geo.geoHeight))
                      : (k % 10 == 0 ? gga(36000 + k / 10, 40.4436, -3.9521, 650) : std::string());
    }
    writeFileBytes(tools / "nmeaInput.txt", nmea);
    std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "almanac.alm");
    const ScenarioEdits edits{.week = day.tenBitWeek,
                              .startTime = fmt::format("{}", day.timing.start),
                              .duration = fmt::format("{}", day.timing.duration),
                              .startDay = day.day,
                              .startMonth = day.month,
                              .startYear = day.year,
                              .almanac = (dir / "almanac.alm").string()};
    const std::string file = dataFile(day.file).string();
    writeFileBytes(tools / "profile.txt", scenarioProfileText(edits, dir.path().string()) +
                                              (profileKey ? "Ephemeris_File = " + file + "\r\n" : ""));
    std::vector<std::string> arguments{(tools / "profile.txt").string()};
    if (!profileKey) arguments.insert(arguments.begin(), {"--ephemeris", file});
    const auto iq = tools / "recording.iq";
    if (bits != 1)
        arguments.insert(arguments.begin(),
                         {"--iq-format", "IQ", "--bits-per-sample", fmt::format("{}", bits), "--sample-rate-khz",
                          bits == 8 ? "2600" : "4000", "--if-hz", "0", "--output", iq.string()});
    const auto generated = runProgram((toolFolder / "TrajixBinary").string(), arguments);
    EXPECT_EQ(generated.exitCode, 0) << generated.err;
    if (bits == 1) {
        EXPECT_EQ(runTrajix({"dsf2bin", (tools / "output.dsf").string()}).exitCode, 0);
        std::filesystem::remove(tools / "output.dsf");
    }

    const auto& shipped = bits == 1 ? receiverConfiguration : bits == 8 ? iq8Configuration : iq16Configuration;
    std::string configuration = readFileBytes(shipped);
    configuration.replace(configuration.find("iono_model=OFF"), 14, "iono_model=Broadcast");
    configuration.replace(configuration.find("trop_model=OFF"), 14, "trop_model=Saastamoinen");
    writeFileBytes(dir / "atmosphere.conf", configuration);
    std::filesystem::create_directories(dir / "with");
    const std::set<int> satellites = generatedSatellites(generated.out);
    const ReceiverRun run =
        bits == 1 ? runReceiver(tools / "output.bin", dir / "with", dir / "atmosphere.conf", day.clock, true)
                  : runReceiverOn(iq, dir / "atmosphere.conf", dir / "with", day.clock);
    checkNavigation(run, satellites, along, day.timing);

    const double dayStart = std::floor(day.timing.start / 86400) * 86400;
    std::set<long long> epochs, told;
    for (const PvtRecord& fix : run.fixes)
        if (std::abs(fix.rxTime - std::round(fix.rxTime)) < 0.011) epochs.insert(std::llround(fix.rxTime));
    for (const UtcFix& fix : run.utcFixes) {
        EXPECT_EQ(fix.date, fmt::format("{:0>2}{:0>2}{}", day.day, day.month, std::string(day.year).substr(2)));
        told.insert(std::llround(dayStart + fix.secondsOfDay + day.leapSeconds));
    }
    EXPECT_GE(told.size(), 15u);
    EXPECT_TRUE(std::includes(epochs.begin(), epochs.end(), told.begin(), told.end()));
    EXPECT_TRUE(!told.empty() && !epochs.empty() && *told.begin() == *epochs.begin() &&
                *told.rbegin() == *epochs.rbegin());
    return bits == 1 ? tools / "output.bin" : iq;
}

}  // namespace

// A HackRF's recording of a drive on a 2010 day: 8-bit I/Q at 2.6 MHz.
TEST(GnssSdrNavigation, EightBitIqDriveOf2010WithTheAtmosphereCancelledByTheReceiver)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/faketime");
    TempDir dir;
    navigateDay(dir, day2010, false, 8, true);
}

// A USRP's recording of a 2018 day: 16-bit I/Q at 4 MHz.
TEST(GnssSdrNavigation, SixteenBitIqOf2018WithTheAtmosphereAndWithoutTheReceiversModels)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/faketime");
    TempDir dir;
    const auto recording = navigateDay(dir, day2018, true, 16);
    // The same signal to a receiver that models neither: the delays, larger towards the
    // horizon, lift its height by metres.
    std::filesystem::create_directories(dir / "without");
    const ReceiverRun run = runReceiverOn(recording, iq16Configuration, dir / "without", day2018.clock);
    double upSum = 0;
    int count = 0;
    const double radius = std::hypot(villafranca.x, villafranca.y, villafranca.z);
    for (const PvtRecord& fix : run.fixes)
        if (fix.rxTime - day2018.timing.start >= day2018.timing.duration - lastSeconds) {
            upSum += ((fix.x - villafranca.x) * villafranca.x + (fix.y - villafranca.y) * villafranca.y +
                      (fix.z - villafranca.z) * villafranca.z) /
                     radius;
            ++count;
        }
    ASSERT_GT(count, 0);
    std::printf("height error without the receiver's models: %.2f m\n", upSum / count);
    EXPECT_GT(upSum / count, 5.0);
}
