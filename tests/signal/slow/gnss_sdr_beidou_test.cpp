// GNSS-SDR, an independent receiver, navigates with the BeiDou B1I signal alone: a
// recording made from the BeiDou records of a real mixed navigation file (ESBC00DNK,
// 2020-06-25) at its own date and place with the atmosphere on, read with its shipped
// configuration (8-bit I/Q at 4096 kHz about 1561.098 MHz). Each BeiDou satellite of the
// signal is tracked and its ephemeris decoded (D1 from the MEO and IGSO satellites, D2
// from the geostationary one); the fixes of the last 20 s lie within 10 m RMS of the
// truth; the UTC time the receiver tells is the day's.
#include <algorithm>
#include <cmath>
#include <cstdio>
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

// Esbjerg's day: ten healthy BeiDou satellites from 14 to 80 degrees (the geostationary
// C05, the IGSO C06, C09 and C16, the MEO C11, C12, C21, C22, C23 and C34), all of one
// hour's records. The receiver, locked within a few seconds, reads subframes 1-3 of the
// first D1 frame; the geostationary satellite's ten D2 pages of its set follow one
// another from the frame's start to 30 s later, and the fixes begin some 50 s in.
using esbjergDay::duration;
using esbjergDay::leapSeconds;
using esbjergDay::start;
const Ecef& esbjerg = esbjergDay::place;
constexpr int highestPrnOfTheReceiver = esbjergDay::highestBeidouPrnOfTheReceiver;

}  // namespace

// A satellite whose first search lands beside its Doppler is given up after the
// configuration's 6-s limit and taken up again before the first D1 frame (see the
// configuration), so every satellite reads its ephemeris whichever it is.
TEST(GnssSdrBeidou, BeidouAloneFromARealMixedFileWithTheAtmosphere)
{
    TRAJIX_REQUIRE_TOOLS(gnssSdr.string(), "/usr/bin/faketime");
    TempDir dir;
    const auto profile = dir / "profile.txt";
    writeFileBytes(profile,
                   esbjergDay::profile("beidou", 4096, dataFile("signal/ESBC00DNK_R_20201770000_1300-1600_C.rnx")));
    const auto samples = dir / "recording.iq";
    const auto generated =
        runProgram((toolFolder / "TrajixBinary").string(), {"--output", samples.string(), profile.string()});
    ASSERT_EQ(generated.exitCode, 0) << generated.err;
    std::set<int> inSignal;
    std::smatch match;
    if (std::regex_search(generated.out, match, std::regex(R"(satellites above the mask:(.*))"))) {
        std::istringstream names(match[1].str());
        std::string name;
        while (names >> name)
            if (name.front() == 'C') inSignal.insert(std::stoi(name.substr(1)));
    }

    std::string configuration =
        readFileBytes(std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-beidou-b1i.conf");
    configuration.replace(configuration.find("iono_model=OFF"), 14, "iono_model=Broadcast");
    configuration.replace(configuration.find("trop_model=OFF"), 14, "trop_model=Saastamoinen");
    writeFileBytes(dir / "receiver.conf", configuration);
    std::filesystem::create_directories(dir / "receiver");
    const ReceiverRun receiver = runReceiverOn(samples, dir / "receiver.conf", dir / "receiver", "2020-06-25 14:30:00");
    std::filesystem::remove(samples);

    std::set<int> tracked, decoded;
    std::istringstream lines(receiver.console);
    std::string line;
    while (std::getline(lines, line)) {
        if (std::regex_search(
                line, match,
                std::regex(R"(Tracking of Beidou B1I signal started on channel \d+ for satellite Beidou PRN (\d+))")))
            tracked.insert(std::stoi(match[1]));
        if (std::regex_search(
                line, match,
                std::regex(
                    R"(New BEIDOU B1I DNAV message received in channel \d+: ephemeris from satellite Beidou PRN (\d+))")))
            decoded.insert(std::stoi(match[1]));
    }
    EXPECT_GE(std::count_if(inSignal.begin(), inSignal.end(), [](int prn) { return prn <= highestPrnOfTheReceiver; }),
              8);
    for (const int prn : inSignal) {
        if (prn > highestPrnOfTheReceiver) continue;
        EXPECT_TRUE(tracked.count(prn)) << "C" << prn << " was never tracked";
        EXPECT_TRUE(decoded.count(prn)) << "C" << prn << ": no ephemeris decoded";
    }

    double sumOfSquares = 0;
    int count = 0;
    std::set<long long> epochs;
    for (const PvtRecord& fix : receiver.fixes) {
        if (std::abs(fix.rxTime - std::round(fix.rxTime)) < 0.011) epochs.insert(std::llround(fix.rxTime));
        if (fix.rxTime - start < duration - lastSeconds) continue;
        const double dx = fix.x - esbjerg.x, dy = fix.y - esbjerg.y, dz = fix.z - esbjerg.z;
        sumOfSquares += dx * dx + dy * dy + dz * dz;
        ++count;
    }
    ASSERT_GT(count, 0) << "no fix in the last 20 s\n" << receiver.console;
    const double rms = std::sqrt(sumOfSquares / count);
    std::printf("%d fixes in the last %g s: %.2f m RMS\n", count, lastSeconds, rms);
    EXPECT_LT(rms, 10.0);
    std::set<long long> told;
    for (const UtcFix& fix : receiver.utcFixes) {
        EXPECT_EQ(fix.date, "250620");
        told.insert(std::llround(4 * 86400 + fix.secondsOfDay + leapSeconds));
    }
    EXPECT_GE(told.size(), 15u);
    EXPECT_TRUE(std::includes(epochs.begin(), epochs.end(), told.begin(), told.end()));
}

}  // namespace trajix::test
