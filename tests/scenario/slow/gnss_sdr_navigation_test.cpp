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
#include "scenario/plenarch.hpp"
#include "scenario/receiver_path.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::runTrajix;
using trajix::test::ScopedEnv;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

const std::filesystem::path toolFolder = std::filesystem::path(TRAJIX_BINARY_DIR) / "cli";
const std::filesystem::path receiverConfiguration =
    std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-gps-l1.conf";
const std::filesystem::path iq8Configuration =
    std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-gps-l1-iq8.conf";
const std::filesystem::path iq16Configuration =
    std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-gps-l1-iq16.conf";
const std::filesystem::path gnssSdr = "/usr/bin/gnss-sdr";

// The scenario: week 314 of the almanac is GPS week 2362 (April 2025). The start is 20 s
// before a frame begins, so a receiver that needs a few seconds to lock still reads
// subframes 1-3 of the first whole frame and fixes about 38 s in.
constexpr int fullWeek = 2362;
constexpr double startSeconds = 32380;
constexpr int durationSeconds = 60;
constexpr double lastSeconds = 20;  // the span whose fixes are compared with the path

// When a recording runs: full GPS week, seconds into it, seconds long.
struct Timing {
    int week = fullWeek;
    double start = startSeconds;
    int duration = durationSeconds;
};

// One record of GNSS-SDR's binary PVT dump (PVT.dump=true) as version 0.0.17 writes it,
// packed: TOW [ms], week, RX time [s], clock offset [s], ECEF position and velocity,
// covariance (6), latitude, longitude, height, 3 status bytes, 2 floats, 4 DOPs.
struct PvtRecord {
    std::uint32_t towMs = 0;
    std::uint32_t week = 0;
    double rxTime = 0;
    double clockOffset = 0;
    double x = 0, y = 0, z = 0;
    double latitude = 0, longitude = 0, height = 0;
};
constexpr std::size_t pvtRecordSize = 4 + 4 + 8 + 8 + 6 * 8 + 6 * 8 + 3 * 8 + 3 + 2 * 4 + 4 * 8;

template <typename T>
T take(const std::string& bytes, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// Reads the dump and checks that its layout is the one expected: every record's
// latitude and longitude must agree with its ECEF position, so a changed layout fails
// here instead of giving nonsense positions.
std::vector<PvtRecord> readPvtDump(const std::filesystem::path& file)
{
    const std::string bytes = readFileBytes(file);
    EXPECT_EQ(bytes.size() % pvtRecordSize, 0u) << "unexpected PVT dump layout in " << file;
    std::vector<PvtRecord> records;
    for (std::size_t at = 0; at + pvtRecordSize <= bytes.size(); at += pvtRecordSize) {
        PvtRecord r;
        r.towMs = take<std::uint32_t>(bytes, at);
        r.week = take<std::uint32_t>(bytes, at + 4);
        r.rxTime = take<double>(bytes, at + 8);
        r.clockOffset = take<double>(bytes, at + 16);
        r.x = take<double>(bytes, at + 24);
        r.y = take<double>(bytes, at + 32);
        r.z = take<double>(bytes, at + 40);
        r.latitude = take<double>(bytes, at + 120);
        r.longitude = take<double>(bytes, at + 128);
        r.height = take<double>(bytes, at + 136);
        const Ecef check = geodeticToEcef(r.latitude, r.longitude, r.height);
        EXPECT_LT(std::hypot(check.x - r.x, check.y - r.y, check.z - r.z), 1.0)
            << "PVT dump record " << records.size() << " is not laid out as expected";
        records.push_back(r);
    }
    return records;
}

struct UtcFix {
    std::string date;  // ddmmyy
    double secondsOfDay = 0;
};

struct ReceiverRun {
    std::vector<UtcFix> utcFixes;            // the times and dates of its RMC sentences
    std::set<int> acquired;                  // tracking started after an acquisition
    std::map<int, std::set<int>> subframes;  // decoded subframe IDs per PRN
    std::set<int> trackedAtEnd;              // satellites in the last RINEX epoch
    int lossesOfLock = 0;                    // channels that lost their satellite
    std::vector<PvtRecord> fixes;
    std::string console;
};

std::set<int> prnsOfLastRinexEpoch(const std::filesystem::path& folder)
{
    std::set<int> prns;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 3 || name.back() != 'O' || name.rfind("GSDR", 0) != 0) continue;
        std::istringstream in(readFileBytes(entry.path()));
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind(">", 0) == 0)
                prns.clear();
            else if (line.size() > 3 && line[0] == 'G' && std::isdigit(static_cast<unsigned char>(line[1])))
                prns.insert(std::stoi(line.substr(1, 2)));
        }
    }
    return prns;
}

std::vector<UtcFix> utcFixesOf(const std::filesystem::path& folder)
{
    std::vector<UtcFix> fixes;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".nmea") continue;
        std::istringstream in(readFileBytes(entry.path()));
        std::string line;
        const std::regex rmc(R"(^\$G.RMC,(\d\d)(\d\d)(\d\d\.\d+),A,[^,]*,[NS],[^,]*,[EW],[^,]*,[^,]*,(\d{6}),)");
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_search(line, m, rmc))
                fixes.push_back({m[4], std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stod(m[3])});
    }
    return fixes;
}

// GNSS-SDR on samples it reads as they are, with the given configuration; with a date
// ("YYYY-MM-DD hh:mm:ss"), under a clock set to it, since the receiver takes the
// 1024-week era of the broadcast week from its computer's clock.
ReceiverRun runReceiverOn(const std::filesystem::path& samples, const std::filesystem::path& configuration,
                          const std::filesystem::path& folder, const std::string& clockDate = {});

// Unpacks a one-bit recording beside it (kept for another run with keepSamples) and runs
// GNSS-SDR on it.
ReceiverRun runReceiver(const std::filesystem::path& binRecording, const std::filesystem::path& folder,
                        const std::filesystem::path& configuration = receiverConfiguration,
                        const std::string& clockDate = {}, bool keepSamples = false)
{
    const auto samples = binRecording.parent_path() / "recording.samples";
    if (!std::filesystem::exists(samples)) {
        auto unpacked =
            runProgram((toolFolder / "trajix-bin-unpack").string(), {binRecording.string(), samples.string()});
        EXPECT_EQ(unpacked.exitCode, 0) << unpacked.err;
        EXPECT_EQ(std::filesystem::file_size(samples), 8 * std::filesystem::file_size(binRecording));
    }
    ReceiverRun run = runReceiverOn(samples, configuration, folder, clockDate);
    if (!keepSamples) std::filesystem::remove(samples);
    return run;
}

ReceiverRun runReceiverOn(const std::filesystem::path& samples, const std::filesystem::path& configuration,
                          const std::filesystem::path& folder, const std::string& clockDate)
{
    // GNSS-SDR writes its solutions into the current directory.
    const std::string clock = clockDate.empty() ? "" : fmt::format("/usr/bin/faketime -f '@{}' ", clockDate);
    const auto result =
        runProgram("/bin/sh", {"-c", fmt::format("cd '{}' && exec {}'{}' -config_file='{}' "
                                                 "-signal_source='{}' -log_dir='{}'",
                                                 folder.string(), clock, gnssSdr.string(), configuration.string(),
                                                 samples.string(), folder.string())});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ReceiverRun run;
    run.console = result.out;
    const std::regex tracking(R"(Tracking of GPS L1 C/A signal started on channel \d+ for satellite GPS PRN (\d+))");
    const std::regex message(
        R"(New GPS NAV message received in channel \d+: subframe (\d) from satellite GPS PRN (\d+))");
    std::istringstream lines(result.out);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, match, tracking)) run.acquired.insert(std::stoi(match[1]));
        if (std::regex_search(line, match, message)) run.subframes[std::stoi(match[2])].insert(std::stoi(match[1]));
        if (line.find("Loss of lock in channel") != std::string::npos) ++run.lossesOfLock;
    }
    run.trackedAtEnd = prnsOfLastRinexEpoch(folder);
    run.utcFixes = utcFixesOf(folder);
    if (std::filesystem::exists(folder / "pvt.dat")) run.fixes = readPvtDump(folder / "pvt.dat");
    return run;
}

std::set<int> generatedSatellites(const std::string& generatorOutput)
{
    std::set<int> prns;
    const auto at = generatorOutput.find("satellites above the mask:");
    EXPECT_NE(at, std::string::npos) << generatorOutput;
    if (at == std::string::npos) return prns;
    std::istringstream list(generatorOutput.substr(at + 26, generatorOutput.find('\n', at) - at - 26));
    int prn = 0;
    while (list >> prn) prns.insert(prn);
    return prns;
}

// The receiver's verdict on a recording whose true position at t seconds after the
// start is truth(t). lossesAllowed: how many times a channel may lose its satellite
// (GNSS-SDR takes it up again; narrow-band I/Q recordings see such drops in the first
// seconds, before bit synchronisation); a satellite so dropped may miss the last epoch.
void checkNavigation(const ReceiverRun& run, const std::set<int>& satellites, const std::function<Ecef(double)>& truth,
                     const Timing& timing = {}, int lossesAllowed = 1)
{
    const double startSeconds = timing.start;
    const int durationSeconds = timing.duration;
    const int fullWeek = timing.week;
    EXPECT_GE(satellites.size(), 5u);
    EXPECT_EQ(run.acquired, satellites) << run.console;
    // Every satellite tracked from its acquisition to the end, but for channels that lost
    // lock: the last observation epoch holds all the others. (A satellite that dropped out
    // was one whose acquisition handed over a Doppler 100-200 Hz off, from which the
    // carrier loop slid to the false lock 500 Hz away; the receiver configuration's finer
    // Doppler grid and frequency-loop pull-in make that rare, and the receiver takes the
    // satellite up again, but on a loaded machine it still happens now and then.)
    EXPECT_LE(run.lossesOfLock, lossesAllowed) << run.console;
    EXPECT_TRUE(std::includes(satellites.begin(), satellites.end(), run.trackedAtEnd.begin(), run.trackedAtEnd.end()));
    EXPECT_GE(run.trackedAtEnd.size() + static_cast<std::size_t>(run.lossesOfLock), satellites.size())
        << "tracked at the end: " << run.trackedAtEnd.size();
    int withEphemeris = 0;
    for (const int prn : satellites) {
        const auto found = run.subframes.find(prn);
        EXPECT_NE(found, run.subframes.end()) << "no navigation message decoded from PRN " << prn;
        if (found != run.subframes.end() && found->second.count(1) && found->second.count(2) && found->second.count(3))
            ++withEphemeris;
    }
    EXPECT_GE(withEphemeris, 4);

    ASSERT_FALSE(run.fixes.empty()) << run.console;
    double sumOfSquares = 0, alongSum = 0, upSum = 0;
    int compared = 0;
    for (const PvtRecord& fix : run.fixes) {
        const double elapsed = fix.rxTime - startSeconds;
        if (elapsed < durationSeconds - lastSeconds) continue;
        EXPECT_EQ(fix.week, static_cast<std::uint32_t>(fullWeek));
        EXPECT_LE(elapsed, durationSeconds);
        // The receiver's clock is the recording's sample clock: its time scale, taken from
        // our TOW and code phases, agrees with its own solution to well within 1 ms.
        EXPECT_LT(std::abs(fix.clockOffset), 1e-3) << fix.rxTime;
        const Ecef expected = truth(elapsed - fix.clockOffset);
        const double dx = fix.x - expected.x, dy = fix.y - expected.y, dz = fix.z - expected.z;
        sumOfSquares += dx * dx + dy * dy + dz * dz;
        const Ecef ahead = truth(elapsed - fix.clockOffset + 1);
        const double ax = ahead.x - expected.x, ay = ahead.y - expected.y, az = ahead.z - expected.z;
        const double norm = std::hypot(ax, ay, az);
        if (norm > 0) alongSum += (dx * ax + dy * ay + dz * az) / norm;
        const double up = std::hypot(expected.x, expected.y, expected.z);
        upSum += (dx * expected.x + dy * expected.y + dz * expected.z) / up;
        ++compared;
    }
    ASSERT_GT(compared, 0);
    // Fixes come every 20 ms or so; the span must be covered, not just touched.
    const double covered =
        run.fixes.back().rxTime - std::max(run.fixes.front().rxTime, startSeconds + durationSeconds - lastSeconds);
    EXPECT_GT(covered, lastSeconds - 2);
    const double rms = std::sqrt(sumOfSquares / compared);
    EXPECT_LT(rms, 10.0) << compared << " fixes";
    std::printf("%d fixes over the last %.0f s: %.2f m RMS from the path, mean %.2f m along it, %.2f m up\n", compared,
                lastSeconds, rms, alongSum / compared, upSum / compared);
}

std::string gga(double clockSeconds, double latitude, double longitude, double height)
{
    const int hours = static_cast<int>(clockSeconds / 3600), minutes = static_cast<int>(clockSeconds / 60) % 60;
    const double seconds = clockSeconds - hours * 3600 - minutes * 60;
    const double latAbs = std::abs(latitude), lonAbs = std::abs(longitude);
    const std::string body = fmt::format(
        "GPGGA,{:02}{:02}{:05.2f},{:02}{:011.8f},{},{:03}{:011.8f},{},1,08,1.0,{:.3f},M,0.0,M,,", hours, minutes,
        seconds, static_cast<int>(latAbs), (latAbs - std::floor(latAbs)) * 60, latitude < 0 ? 'S' : 'N',
        static_cast<int>(lonAbs), (lonAbs - std::floor(lonAbs)) * 60, longitude < 0 ? 'W' : 'E', height);
    unsigned sum = 0;
    for (const char c : body) sum ^= static_cast<unsigned char>(c);
    return fmt::format("${}*{:02X}\r\n", body, sum);
}

}  // namespace

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
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "almanac.alm");

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
    ScenarioEdits edits;
    edits.week = "314";
    edits.startTime = fmt::format("{}", startSeconds);
    edits.duration = fmt::format("{}", durationSeconds);
    edits.startDay = "13";
    edits.startMonth = "4";
    edits.startYear = "2025";
    edits.almanac = (dir / "almanac.alm").string();
    writeFileBytes(tools / "profile.txt", scenarioProfileText(edits, dir.path().string()));
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
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "almanac.alm");
    const double latitude = 47.37, longitude = 8.54, height = 420;
    writeFileBytes(tools / "nmeaInput.txt", gga(32400, latitude, longitude, height));
    ScenarioEdits edits;
    edits.week = "314";
    edits.startTime = fmt::format("{}", startSeconds);
    edits.duration = fmt::format("{}", durationSeconds);
    edits.startDay = "13";
    edits.startMonth = "4";
    edits.startYear = "2025";
    edits.almanac = (dir / "almanac.alm").string();
    writeFileBytes(tools / "profile.txt", scenarioProfileText(edits, dir.path().string()));
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
    checkNavigation(
        run, generatedSatellites(generated.out), [&](double) { return position; }, {},
        static_cast<int>(generatedSatellites(generated.out).size()));
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
        arguments.insert(arguments.begin(), {"--iq-format", "IQ", "--bits-per-sample", fmt::format("{}", bits),
                                             "--sample-rate-khz", bits == 8 ? "2600" : "4000", "--if-hz", "0",
                                             "--output", iq.string()});
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
    // Narrow-band I/Q may see channels drop their satellite before bit synchronisation.
    checkNavigation(run, satellites, along, day.timing, bits == 1 ? 1 : static_cast<int>(satellites.size()));

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
