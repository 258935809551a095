#include "gnss_sdr_support.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace trajix::test {

namespace {

template <typename T>
T take(const std::string& bytes, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

}  // namespace

// Every record's latitude and longitude must agree with its ECEF position, so a changed
// layout fails here instead of giving nonsense positions.
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

namespace {

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

}  // namespace

ReceiverRun runReceiver(const std::filesystem::path& binRecording, const std::filesystem::path& folder,
                        const std::filesystem::path& configuration, const std::string& clockDate, bool keepSamples)
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
    const std::regex tracking(R"(Tracking of GPS L1 C/A signal started on channel (\d+) for satellite GPS PRN (\d+))");
    const std::regex loss(R"(Loss of lock in channel (\d+))");
    std::map<int, int> prnOfChannel;
    const std::regex message(
        R"(New GPS NAV message received in channel \d+: subframe (\d) from satellite GPS PRN (\d+))");
    std::istringstream lines(result.out);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, match, tracking)) {
            prnOfChannel[std::stoi(match[1])] = std::stoi(match[2]);
            run.acquired.insert(std::stoi(match[2]));
        }
        if (std::regex_search(line, match, message)) run.subframes[std::stoi(match[2])].insert(std::stoi(match[1]));
        if (std::regex_search(line, match, loss)) {
            ++run.lossesOfLock;
            const auto channel = prnOfChannel.find(std::stoi(match[1]));
            if (channel != prnOfChannel.end()) ++run.lossesByPrn[channel->second];
        }
    }
    int limitReached = 0, startedEarly = 0;
    std::istringstream log(std::filesystem::exists(folder / "gnss-sdr.INFO") ? readFileBytes(folder / "gnss-sdr.INFO")
                                                                             : std::string());
    while (std::getline(log, line)) {
        if (line.find("tracking synchronization time limit reached") != std::string::npos) ++limitReached;
        if (line.find("Number of samples between Acquisition and Tracking = -") != std::string::npos) ++startedEarly;
    }
    // A drop at the start is one of the losses the console reported; on a loaded machine
    // the log may name more such drops than the console printed losses, and the count
    // of losses must not go below zero.
    run.droppedAtStart = std::min({limitReached, startedEarly, run.lossesOfLock});
    run.lossesOfLock -= run.droppedAtStart;
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

void checkNavigation(const ReceiverRun& run, const std::set<int>& satellites, const std::function<Ecef(double)>& truth,
                     const Timing& timing, int lossesAllowed)
{
    const double startSeconds = timing.start;
    const int durationSeconds = timing.duration;
    const int fullWeek = timing.week;
    EXPECT_GE(satellites.size(), 5u);
    // Every satellite of the signal acquired. The acquisition's false-alarm rate (1 % a
    // search) may now and then lock a channel on noise for a PRN the signal lacks: such a
    // lock must decode nothing (nor reach the last epoch, below), and its loss is not the
    // signal's.
    EXPECT_TRUE(std::includes(run.acquired.begin(), run.acquired.end(), satellites.begin(), satellites.end()))
        << run.console;
    int falseLosses = 0;
    for (const int prn : run.acquired) {
        if (satellites.count(prn)) continue;
        EXPECT_EQ(run.subframes.count(prn), 0u) << "a message decoded from PRN " << prn << ", not in the signal";
        const auto lost = run.lossesByPrn.find(prn);
        if (lost != run.lossesByPrn.end()) falseLosses += lost->second;
    }
    const int signalLosses = std::max(0, run.lossesOfLock - falseLosses);
    // Every satellite tracked from its acquisition to the end, but for channels that lost
    // lock: the last observation epoch holds all the others. (A satellite that dropped out
    // was one whose acquisition handed over a Doppler 200-250 Hz off: the acquisition
    // integrates 1 ms, its Doppler errs by 70-90 Hz RMS, and the pull-in's frequency
    // discriminator over 1 ms reaches only 250 Hz either way, so from there the carrier
    // loop may settle on the false lock 500 Hz away, find no bit edges and drop the
    // satellite when its 20 s bit-synchronisation limit runs out. The receiver takes the
    // satellite up again; one such loss in a run is allowed.)
    EXPECT_LE(signalLosses, lossesAllowed) << run.console;
    EXPECT_TRUE(std::includes(satellites.begin(), satellites.end(), run.trackedAtEnd.begin(), run.trackedAtEnd.end()));
    // A satellite whose channel was dropped at the start is taken up again, but on a
    // loaded machine it may not be back in the last epoch.
    EXPECT_GE(run.trackedAtEnd.size() + static_cast<std::size_t>(signalLosses + run.droppedAtStart),
              satellites.size())
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
    std::printf(
        "%d fixes over the last %.0f s: %.2f m RMS from the path, mean %.2f m along it, %.2f m up; "
        "%d loss(es) of lock, %d channel(s) dropped at the start of tracking\n",
        compared, lastSeconds, rms, alongSum / compared, upSum / compared, signalLosses, run.droppedAtStart);
}
void checkStillReceiverOfTheDay(const ReceiverRun& run, double start, int duration, const Ecef& place,
                                const std::string& date, double dayStart, int leapSeconds)
{
    checkReceiverOfTheDay(
        run, start, duration, [&](double) { return place; }, date, dayStart, leapSeconds);
}

void checkReceiverOfTheDay(const ReceiverRun& run, double start, int duration, const std::function<Ecef(double)>& truth,
                           const std::string& date, double dayStart, int leapSeconds)
{
    double sumOfSquares = 0;
    int count = 0;
    std::set<long long> epochs;
    for (const PvtRecord& fix : run.fixes) {
        if (std::abs(fix.rxTime - std::round(fix.rxTime)) < 0.011) epochs.insert(std::llround(fix.rxTime));
        if (fix.rxTime - start < duration - lastSeconds) continue;
        // The receiver's clock runs ahead of the recording's by its offset.
        const Ecef place = truth(fix.rxTime - start - fix.clockOffset);
        const double dx = fix.x - place.x, dy = fix.y - place.y, dz = fix.z - place.z;
        sumOfSquares += dx * dx + dy * dy + dz * dz;
        ++count;
    }
    ASSERT_GT(count, 0) << "no fix in the last 20 s";
    const double rms = std::sqrt(sumOfSquares / count);
    std::printf("%d fixes in the last %g s: %.2f m RMS\n", count, lastSeconds, rms);
    EXPECT_LT(rms, 10.0);
    std::set<long long> told;
    for (const UtcFix& fix : run.utcFixes) {
        EXPECT_EQ(fix.date, date);
        told.insert(std::llround(dayStart + fix.secondsOfDay + leapSeconds));
    }
    EXPECT_GE(told.size(), 15u);
    EXPECT_TRUE(std::includes(epochs.begin(), epochs.end(), told.begin(), told.end()));
}

std::string esbjergDay::profile(const std::string& systems, int rateKHz, const std::filesystem::path& ephemeris)
{
    return fmt::format("[Receiver Dynamics]\r\nStatic=1\r\nLatitude_in_deg=55.4776\r\n"
                       "Longitude_in_deg=8.4524\r\nAltitude_in_m=60\r\nGPS_Week=63\r\n"
                       "GPS_Start_Time_in_sec={}\r\nDuration_in_sec={}\r\n"
                       "Source_NMEA_file=none.nme\r\nSimulation_Day=25\r\nSimulation_Mon=6\r\n"
                       "Simulation_Year=2020\r\nAlmanac_File=none.alm\r\nMask_in_deg=10\r\n"
                       "NoiseFigure_in_dB=0\r\nIFFreq_in_Hz=0\r\nSampleRate_in_KHz={}\r\n"
                       "IQ_format=IQ\r\nbitPerSample=8\r\nEphemeris_File={}\r\nSystems={}\r\n",
                       start, duration, rateKHz, ephemeris.string(), systems);
}

}  // namespace trajix::test
