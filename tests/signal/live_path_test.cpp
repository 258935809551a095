// The live receiver path: the NMEA reader refuses bad input with a note and goes on from
// the last good fix, however the bytes are cut; the path follows the fixes, holds still
// when they stop; and TrajixBinary --live follows `trajix replay --tcp` on loopback.
#include <cmath>
#include <cstdio>
#include <random>
#include <regex>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "scenario/plenarch.hpp"
#include "signal/live_path.hpp"
#include "test_support.hpp"
#include "tests/scenario/scenario_fixtures.hpp"

using namespace trajix;
using trajix::test::CommandResult;
using trajix::test::dataFile;
using trajix::test::runProgram;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;
using trajix::test::writeWeek314Profile;

namespace {

std::string sentence(const std::string& body)
{
    unsigned sum = 0;
    for (const char c : body) sum ^= static_cast<unsigned char>(c);
    return fmt::format("${}*{:02X}\r\n", body, sum);
}

// A GGA at hhmmss seconds of day, latitude north and longitude east in degrees.
std::string gga(double clock, double latitude, double longitude, const char* quality = "1")
{
    const int h = static_cast<int>(clock / 3600), m = static_cast<int>(clock / 60) % 60;
    return sentence(fmt::format("GPGGA,{:02}{:02}{:05.2f},{:02}{:011.8f},N,{:03}{:011.8f},E,{},08,1.0,100.0,M,0.0,M,,",
                                h, m, clock - h * 3600 - m * 60, static_cast<int>(latitude),
                                (latitude - std::floor(latitude)) * 60, static_cast<int>(longitude),
                                (longitude - std::floor(longitude)) * 60, quality));
}

std::string rmc(const char* clock, const char* date)
{
    return sentence(fmt::format("GPRMC,{},A,4807.038,N,01131.000,E,0.0,0.0,{},,,A", clock, date));
}

double metres(const Ecef& a, const Ecef& b)
{
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

}  // namespace

TEST(LiveNmeaReader, BadInputIsNotedByWhatCameAndTheFixesGoOnFromTheLastGoodOne)
{
    const std::string good1 = gga(36000, 48.1, 11.5), good2 = gga(36001, 48.1001, 11.5);
    std::string badChecksum = gga(36001, 48.1001, 11.5);
    badChecksum[badChecksum.size() - 3] ^= 1;
    struct Row {
        std::string bad;
        const char* note;  // a part of the note
    };
    const std::vector<Row> rows{
        {"hello world\r\n", "'hello world': not an NMEA sentence"},
        {std::string("\x00\xff\x13\n", 4), "'\\x00\\xff\\x13': not an NMEA sentence"},
        {badChecksum, "its checksum is not"},
        {std::string(400, 'A') + "\n", "longer than 160 bytes"},
        {gga(36000.5, 48.1, 11.5, "0"), "the stream has no fix"},
        {sentence("GPGGA,100000.5,48x1,N,01130.0,E,1,08,1.0,1.0,M,0.0,M,,"), "not a valid latitude"},
        {sentence("GPGGA,250000.5,4806.0,N,01130.0,E,1,08,1.0,1.0,M,0.0,M,,"), "not a valid time of day"},
        {sentence("GPGGA,100000.5,4806.0"), "too few fields"},
        {sentence("GPRMC,100000.5,A,4806.0,N,01130.0,E,0.0,0.0,331325,,,A"), "not a valid date"},
        {sentence("GPRMC,100000.5,A,4806.0,N,01130.0,E,0.0,0.0,155E95,,,A"), "not a valid date"},
        {sentence("GPGGA,100000.5,4806.0,N,01130.0,E,1,08,1.0,1e400,M,0.0,M,,"), "not a valid altitude"},
        {gga(36000.5, 49.0, 11.5), "a jump of 100.1 km in 0.5 s"},
        {gga(35999, 48.1, 11.5), "its time lies before the last fix's, 100000.00"},
    };
    for (const Row& row : rows) {
        const std::string stream = good1 + row.bad + good2;
        // Whole, then cut at every byte: the same fixes and notes.
        for (const std::size_t step : {stream.size(), std::size_t{1}, std::size_t{7}}) {
            std::vector<std::string> notes;
            LiveNmeaReader reader([&](const std::string& n) { notes.push_back(n); });
            std::vector<LiveFix> fixes;
            for (std::size_t at = 0; at < stream.size(); at += step)
                for (auto& fix : reader.feed(std::string_view(stream).substr(at, step))) fixes.push_back(fix);
            ASSERT_EQ(notes.size(), 1u) << row.note << " step " << step;
            EXPECT_NE(notes[0].find(row.note), std::string::npos) << notes[0];
            ASSERT_EQ(fixes.size(), 2u) << row.note;
            EXPECT_EQ(fixes[0].clock, "100000.00");
            EXPECT_EQ(fixes[1].clock, "100001.00");
            EXPECT_NEAR(metres(fixes[1].position, geodeticToEcef(48.1001, 11.5, 100)), 0, 1e-3);
        }
    }
    // A flood of garbage is noted five times, then every hundredth.
    int notes = 0;
    LiveNmeaReader reader([&](const std::string&) { ++notes; });
    for (int i = 0; i < 1000; ++i) reader.feed("garbage\n");
    EXPECT_EQ(notes, 5 + 10);
}

TEST(LiveNmeaReader, FixesTakeTheDateOfTheLatestRmcAcrossMidnight)
{
    LiveNmeaReader reader({});
    EXPECT_FALSE(reader.feed(gga(86399, 48.1, 11.5))[0].date);
    reader.feed(rmc("235959.50", "311225"));
    const auto before = reader.feed(gga(86399.5, 48.1, 11.5));
    const auto after = reader.feed(gga(0.5, 48.1, 11.5));
    ASSERT_EQ(before.size(), 1u);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(*before[0].date, (CalendarDate{2025, 12, 31}));
    EXPECT_EQ(*after[0].date, (CalendarDate{2026, 1, 1}));
    EXPECT_DOUBLE_EQ(after[0].streamSeconds - before[0].streamSeconds, 1.0);
}

// Random straight drives, one fix a second arriving on time: once two fixes have come
// the path lies on the drive; a turn reaches it within 200 ms of its fix; and when the
// fixes stop the receiver moves on for at most LivePath::longestMove, then holds still
// with one note until the fixes come again. A generator that fixes its pieces late, after
// later fixes came, makes the same path.
TEST(LivePath, FollowsTheFixesWithinTheirArrivalAndHoldsStillWhenTheyStop)
{
    std::mt19937_64 random(30);
    std::uniform_real_distribution<double> uniform(-1, 1);
    for (int trial = 0; trial < 20; ++trial) {
        const double latitude = 60 * uniform(random), longitude = 170 * uniform(random);
        const double north = 40 * uniform(random), east = 40 * uniform(random);  // m/s
        const auto truth = [&](double t) {
            const double turn = t > 6 ? t - 6 : 0;  // after 6 s, north becomes east
            const double n = north * (t - turn) + east * turn, e = east * (t - turn) - north * turn;
            return geodeticToEcef(latitude + n / 111320, longitude + e / (111320 * std::cos(latitude * M_PI / 180)),
                                  100);
        };
        const auto fixAt = [&](int second) {
            LiveFix fix;
            fix.position = truth(second);
            fix.streamSeconds = 36000 + second;
            fix.clock = fmt::format("{}", 100000 + second);
            return fix;
        };
        double now = 0;
        std::vector<std::string> notes;
        LivePath path(
            fixAt(0), 0, [&](const std::string& n) { notes.push_back(n); }, [&] { return now; });
        // The same fixes to a generator that fixes each piece 1.6 s late: the same path.
        LivePath late(fixAt(0), 0, {}, [&] { return now; });
        late.setOrigin(0);
        const int behind = 40;
        std::vector<Ecef> onTime;
        int nextFix = 1;
        const int lastFix = 9;  // then the stream stops
        double lastError = 0;
        for (int piece = 1; piece <= 400; ++piece) {
            const double t = piece * 0.04;
            for (; nextFix <= lastFix && nextFix <= t - LivePath::lead; ++nextFix) {
                now = nextFix;
                path.addFix(fixAt(nextFix));
                late.addFix(fixAt(nextFix));
            }
            now = std::max(0.0, t - LivePath::lead);
            path.commitUntil(t, false);
            onTime.push_back(path.positionAt(t));
            if (piece > behind) {
                const double lateT = (piece - behind) * 0.04;
                late.commitUntil(lateT, false);
                ASSERT_LT(metres(late.positionAt(lateT), onTime[piece - behind - 1]), 1e-6) << trial << " at " << lateT;
            }
            const double error = metres(path.positionAt(t), truth(std::min(t, lastFix + LivePath::longestMove)));
            const double sinceTurn = t - 7;
            if (t >= 2.2 && (t < 6 || sinceTurn >= 0.2)) {
                ASSERT_LT(error, 0.01) << trial << " at " << t;
            }
            lastError = error;
        }
        EXPECT_LT(lastError, 0.01);  // held at the last fix moved on for longestMove
        ASSERT_EQ(std::count_if(notes.begin(), notes.end(),
                                [](const std::string& n) { return n.find("holds still") != std::string::npos; }),
                  1);
        EXPECT_EQ(path.fixesFollowed(), lastFix + 1);
        path.addFix(fixAt(30));
        now = 16;
        path.commitUntil(16.2, false);
        EXPECT_NE(notes.back().find("following the fix at 100030"), std::string::npos) << notes.back();
        EXPECT_NE(notes[notes.size() - 2].find("fixes again"), std::string::npos);
    }
}

namespace {

// trajix replay serving `route` on loopback, and TrajixBinary following it with
// `arguments` before the profile: the generator's run and the stream's address.
struct FollowedReplay {
    CommandResult run;
    std::string address;
};

FollowedReplay followReplay(const std::filesystem::path& route, std::vector<std::string> arguments,
                            const std::filesystem::path& profile)
{
    const auto cli = std::filesystem::path(TRAJIX_BINARY_DIR) / "cli";
    std::FILE* replay = ::popen(
        fmt::format("timeout 30 '{}' replay --tcp 127.0.0.1:0 '{}'", (cli / "trajix").string(), route.string()).c_str(),
        "r");
    if (!replay) return {};
    char first[200] = {};
    FollowedReplay followed;
    if (std::fgets(first, sizeof first, replay)) followed.address = first;
    while (!followed.address.empty() && std::isspace(static_cast<unsigned char>(followed.address.back())))
        followed.address.pop_back();
    arguments.insert(arguments.begin(), {"--live", followed.address});
    arguments.push_back(profile.string());
    if (followed.address.rfind("tcp://127.0.0.1:", 0) == 0)
        followed.run = runProgram((cli / "TrajixBinary").string(), arguments);
    ::pclose(replay);
    return followed;
}

}  // namespace

// trajix replay serves a short drive on loopback; TrajixBinary follows it until the
// stream ends: a recording of whole milliseconds, the fixes followed named in its log;
// a refused address names itself and writes nothing.
TEST(LivePath, TrajixBinaryFollowsTrajixReplayOnLoopbackUntilTheStreamEnds)
{
    TempDir dir;
    const auto tools = writeWeek314Profile(dir.path(), "32380", "60");
    std::string route;
    for (int k = 0; k <= 5; ++k) {
        route += gga(36000 + k, 51.9 + k * 1e-4, 1.1 + k * 1e-4);
        route += sentence(fmt::format("GPRMC,{}.00,A,5154.000,N,00106.000,E,10.0,45.0,130425,,,A", 100000 + k));
    }
    writeFileBytes(dir / "route.nmea", route);
    const auto cli = std::filesystem::path(TRAJIX_BINARY_DIR) / "cli";

    const auto refused =
        runProgram((cli / "TrajixBinary").string(), {"--live", "tcp://127.0.0.1:1", (tools / "profile.txt").string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("cannot connect to the live stream 'tcp://127.0.0.1:1'"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(tools / "output.dsf"));

    const auto [run, address] = followReplay(dir / "route.nmea", {}, tools / "profile.txt");
    ASSERT_EQ(address.rfind("tcp://127.0.0.1:", 0), 0u) << address;
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto size = std::filesystem::file_size(tools / "output.dsf");
    EXPECT_EQ(size % 2046, 0u);  // whole milliseconds
    EXPECT_LE(size, 6 * 2046000u);
    // The last fix is followed, and the recording goes on past the piece that took it up
    // (on a loaded machine a fix or two may come together and only the later be followed).
    std::smatch last;
    const std::regex lastFix(
        R"(following the fix at 100005\.00 \(51\.9005000, 1\.1005000, 100\.0 m\) from ([0-9.]+) s)");
    ASSERT_TRUE(std::regex_search(run.out, last, lastFix)) << run.out;
    EXPECT_GE(static_cast<double>(size), std::stod(last[1]) * 2046000) << run.out;
    EXPECT_NE(run.out.find("the live stream " + address + " ended"), std::string::npos) << run.out;
}

// A live stream drives a signal of any system: GLONASS alone from a real navigation file,
// on the day and hour of the stream's fixes, at 9000 kHz about 1602 MHz.
TEST(LivePath, TrajixBinaryFollowsALiveStreamWithGlonassAlone)
{
    TempDir dir;
    const auto tools = writeWeek314Profile(dir.path(), "32380", "60");
    std::string route;
    for (int k = 0; k <= 2; ++k) {
        route += gga(6 * 3600 + k, 41.4 + k * 1e-4, 2.17 + k * 1e-4);
        route += sentence(fmt::format("GPRMC,{:06}.00,A,4124.000,N,00210.200,E,10.0,45.0,190618,,,A", 60000 + k));
    }
    writeFileBytes(dir / "route.nmea", route);
    const auto samples = dir / "live.iq";
    const auto [run, address] = followReplay(
        dir / "route.nmea",
        {"--systems", "glonass", "--ephemeris", dataFile("signal/VILL00ESP_R_20181700000_0200-0659_R.rnx").string(),
         "--iq-format", "IQ", "--bits-per-sample", "8", "--sample-rate-khz", "9000", "--if-hz", "0", "--output",
         samples.string()},
        tools / "profile.txt");
    ASSERT_EQ(address.rfind("tcp://127.0.0.1:", 0), 0u) << address;
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(std::filesystem::file_size(samples) % 18000, 0u);  // whole milliseconds of I and Q bytes
    std::smatch listed;
    ASSERT_TRUE(std::regex_search(run.out, listed, std::regex(R"(satellites above the mask:((?: R\d\d)+)\n)")))
        << run.out;
    EXPECT_GE(listed[1].length(), 4 * 4);
    EXPECT_NE(run.out.find("following the fix at 060002.00"), std::string::npos) << run.out;
}
