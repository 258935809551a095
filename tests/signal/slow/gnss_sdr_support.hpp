#pragma once
// What the GNSS-SDR checks share: the shipped receiver configurations, running GNSS-SDR
// on a recording and reading what it made of it (its console, PVT dump, NMEA and RINEX
// files), and the verdict on its fixes against the truth.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sky/ecef.hpp"

namespace trajix::test {

inline const std::filesystem::path toolFolder = std::filesystem::path(TRAJIX_BINARY_DIR) / "cli";
inline const std::filesystem::path receiverConfiguration =
    std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-gps-l1.conf";
inline const std::filesystem::path iq8Configuration =
    std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-gps-l1-iq8.conf";
inline const std::filesystem::path iq16Configuration =
    std::filesystem::path(TRAJIX_SOURCE_DIR) / "tools" / "gnss-sdr-gps-l1-iq16.conf";
inline const std::filesystem::path gnssSdr = "/usr/bin/gnss-sdr";

// The scenario: week 314 of the almanac is GPS week 2362 (April 2025). The start is 20 s
// before a frame begins, so a receiver that needs a few seconds to lock still reads
// subframes 1-3 of the first whole frame and fixes about 38 s in.
constexpr int fullWeek = 2362;
constexpr double startSeconds = 32380;
constexpr int durationSeconds = 60;
constexpr double lastSeconds = 20;  // the span whose fixes are compared with the path

// Esbjerg, where station ESBC stands, on Thursday 2020-06-25 from 14:15:58 GPS time for
// 72 s: the BeiDou and the four-system checks. The start lies 16 s before a 30-s D1
// frame of BDT (which runs 14 s behind GPS time).
namespace esbjergDay {
constexpr double start = 4 * 86400 + 14 * 3600 + 958;
constexpr int duration = 72;
constexpr int leapSeconds = 18;
inline const Ecef place = geodeticToEcef(55.4776, 8.4524, 60);
// GNSS-SDR 0.0.17 makes the B1I ranging code only for PRN 1 to 32 (later versions make
// all 63): a satellite above that is in the signal but out of its reach.
constexpr int highestBeidouPrnOfTheReceiver = 32;
// The generator's profile of the day: a receiver standing there, 8-bit I/Q at rateKHz
// about the default centre of the systems, from the ephemeris file.
std::string profile(const std::string& systems, int rateKHz, const std::filesystem::path& ephemeris);
}  // namespace esbjergDay

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

std::vector<PvtRecord> readPvtDump(const std::filesystem::path& file);

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
    std::map<int, int> lossesByPrn;          // those losses by the satellite lost
    // Of those, channels GNSS-SDR dropped at once when it started tracking: its tracking
    // began a millisecond or two before the acquisition's sample stamp, and the wrapped
    // unsigned difference tripped its bit-synchronisation time limit (a race of its
    // threads, more frequent on a loaded machine; the satellite is acquired again).
    int droppedAtStart = 0;
    std::vector<PvtRecord> fixes;
    std::string console;
};

// GNSS-SDR on samples it reads as they are, with the given configuration; with a date
// ("YYYY-MM-DD hh:mm:ss"), under a clock set to it, since the receiver takes the
// 1024-week era of the broadcast week from its computer's clock.
ReceiverRun runReceiverOn(const std::filesystem::path& samples, const std::filesystem::path& configuration,
                          const std::filesystem::path& folder, const std::string& clockDate = {});

// Unpacks a one-bit recording beside it (kept for another run with keepSamples) and runs
// GNSS-SDR on it.
ReceiverRun runReceiver(const std::filesystem::path& binRecording, const std::filesystem::path& folder,
                        const std::filesystem::path& configuration = receiverConfiguration,
                        const std::string& clockDate = {}, bool keepSamples = false);

// The satellites the generator's output lists above the mask.
std::set<int> generatedSatellites(const std::string& generatorOutput);

// The receiver's verdict on a recording whose true position at t seconds after the
// start is truth(t). lossesAllowed: how many times a channel may lose its satellite
// (GNSS-SDR takes it up again); a satellite so dropped may miss the last epoch. The
// channels dropped at the start of tracking do not count as losses, but their
// satellites too may miss the last epoch.
void checkNavigation(const ReceiverRun& run, const std::set<int>& satellites, const std::function<Ecef(double)>& truth,
                     const Timing& timing = {}, int lossesAllowed = 1);

/// A still receiver's fixes at `place`: those of the last 20 s of a recording of
/// `duration` s from `start` (seconds of the GPS week) within 10 m RMS, and every UTC
/// time it told (RMC) on `date` ("ddmmyy", the day starting at `dayStart` seconds of the
/// week) and on one of its own whole seconds.
void checkStillReceiverOfTheDay(const ReceiverRun& run, double start, int duration, const Ecef& place,
                                const std::string& date, double dayStart, int leapSeconds);

/// The same for a receiver at truth(t) t seconds after the start.
void checkReceiverOfTheDay(const ReceiverRun& run, double start, int duration, const std::function<Ecef(double)>& truth,
                           const std::string& date, double dayStart, int leapSeconds);

}  // namespace trajix::test
