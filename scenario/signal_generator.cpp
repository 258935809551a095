#include "scenario/signal_generator.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/platform.hpp"
#include "scenario/atmosphere.hpp"
#include "scenario/gps_week.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/sky_model.hpp"
#include "sky/yuma_almanac.hpp"

namespace trajix {

// ---------------------------------------------------------------------------------
// Profile

namespace {

struct ProfileEntry {
    std::string value;
    long long line = 0;
};

class ProfileReader {
public:
    explicit ProfileReader(const std::filesystem::path& path) : path_(path)
    {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec))
            throw Error(fmt::format("cannot read the profile '{}': it is a directory", path.string()));
        std::ifstream in(path, std::ios::binary);
        if (!in) throw Error(fmt::format("cannot open the profile '{}'", path.string()));
        std::string line;
        long long number = 0;
        while (std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string_view text = trimBlanks(line);
            if (text.empty() || text.front() == '[') continue;
            const auto equals = text.find('=');
            if (equals == std::string_view::npos)
                throw Error(fmt::format("line {} of '{}' is neither a section nor key=value: '{}'", number,
                                        path.string(), line));
            entries_[std::string(trimBlanks(text.substr(0, equals)))] =
                ProfileEntry{std::string(trimBlanks(text.substr(equals + 1))), number};
        }
        if (in.bad()) throw Error(fmt::format("cannot read the profile '{}'", path.string()));
    }

    bool has(const std::string& key) const { return entries_.count(key) > 0; }
    bool hasValue(const std::string& key) const { return has(key) && !entries_.at(key).value.empty(); }

    const ProfileEntry& entry(const std::string& key) const
    {
        const auto found = entries_.find(key);
        if (found == entries_.end() || found->second.value.empty())
            throw Error(fmt::format("the profile '{}' has no value for {}", path_.string(), key));
        return found->second;
    }
    long long integer(const std::string& key, long long low, long long high) const
    {
        const ProfileEntry& e = entry(key);
        long long value = 0;
        if (!tryParseInteger(e.value, value) || value < low || value > high)
            throw Error(fmt::format("{} = '{}' (line {} of '{}') is not an integer from {} to {}", key, e.value, e.line,
                                    path_.string(), low, high));
        return value;
    }
    double number(const std::string& key, double low, double high) const
    {
        const ProfileEntry& e = entry(key);
        double value = 0;
        if (!tryParseDouble(e.value, value) || value < low || value >= high)
            throw Error(fmt::format("{} = '{}' (line {} of '{}') is not a number from {} up to {}", key, e.value,
                                    e.line, path_.string(), low, high));
        return value;
    }
    void expect(const std::string& key, const std::string& wanted) const
    {
        const ProfileEntry& e = entry(key);
        if (e.value != wanted)
            throw Error(fmt::format("{} = '{}' (line {} of '{}') is not supported: only {}", key, e.value, e.line,
                                    path_.string(), wanted));
    }
    std::filesystem::path file(const std::string& key) const
    {
        const std::string& text = entry(key).value;
        if (text.find('\\') != std::string::npos || (text.size() > 1 && text[1] == ':'))
            return resolveWindowsPath(text);
        return text;
    }

private:
    std::filesystem::path path_;
    std::map<std::string, ProfileEntry> entries_;
};

}  // namespace

int resolveTenBitWeek(long long tenBitWeek, long long nearWeek)
{
    if (tenBitWeek >= 1024) return static_cast<int>(tenBitWeek);
    long long best = tenBitWeek;
    for (long long candidate = tenBitWeek; candidate < nearWeek + 1024; candidate += 1024)
        if (std::llabs(candidate - nearWeek) < std::llabs(best - nearWeek)) best = candidate;
    return static_cast<int>(best);
}

GeneratorSettings readGeneratorProfile(const std::filesystem::path& profilePath)
{
    const ProfileReader profile(profilePath);
    GeneratorSettings s;
    const long long tenBitWeek = profile.integer("GPS_Week", 0, 1000000);
    s.startSeconds = profile.number("GPS_Start_Time_in_sec", 0, 604800);
    s.durationSeconds = profile.integer("Duration_in_sec", 1, 86400);
    CalendarDate date;
    date.day = static_cast<int>(profile.integer("Simulation_Day", 1, 31));
    date.month = static_cast<int>(profile.integer("Simulation_Mon", 1, 12));
    date.year = static_cast<int>(profile.integer("Simulation_Year", 1980, 9999));
    // The 10-bit week lies in the 1024-week period of the simulation date, which the
    // scenario step took from the almanac's week.
    s.week = resolveTenBitWeek(tenBitWeek, gpsWeekOfDate(date));
    profile.integer("SampleRate_in_KHz", 16368, 16368);
    profile.integer("bitPerSample", 1, 1);
    profile.expect("IQ_format", "I");
    s.intermediateFrequencyHz = profile.integer("IFFreq_in_Hz", 0, generatorSampleRate / 2);
    s.maskDegrees = profile.number("Mask_in_deg", -90, 90);
    s.noiseFigureDb = profile.number("NoiseFigure_in_dB", 0, 30);
    s.almanacFile = profile.file("Almanac_File");
    s.nmeaFile = profile.file("Source_NMEA_file");
    s.output = profile.file("IF_IQ_File");
    if (profile.has("Static") && profile.integer("Static", 0, 1) == 1) {
        s.staticPosition = true;
        s.latitude = profile.number("Latitude_in_deg", -90, 90.0000001);
        s.longitude = profile.number("Longitude_in_deg", -180, 180.0000001);
        s.altitude = profile.number("Altitude_in_m", -10000, 1e7);
    }
    if (profile.has("Noise_Only")) s.noiseOnly = profile.integer("Noise_Only", 0, 1) == 1;
    if (profile.has("Noise_Seed"))
        s.seed = static_cast<std::uint64_t>(profile.integer("Noise_Seed", 0, 9000000000000000000LL));
    if (profile.has("Max_Satellites")) s.maxSatellites = static_cast<int>(profile.integer("Max_Satellites", 0, 32));
    if (profile.hasValue("Ephemeris_File")) s.ephemerisFile = profile.file("Ephemeris_File");
    if (profile.has("Ionosphere")) s.ionosphere = profile.integer("Ionosphere", 0, 1) == 1;
    if (profile.has("Troposphere")) s.troposphere = profile.integer("Troposphere", 0, 1) == 1;
    if (!s.noiseOnly && !s.staticPosition) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(s.nmeaFile, ec))
            throw Error(fmt::format("the NMEA file '{}' named in '{}' does not exist", s.nmeaFile.string(),
                                    profilePath.string()));
    }
    return s;
}

// ---------------------------------------------------------------------------------
// Noise

void fillNoiseSecond(std::uint8_t* bytes, std::size_t size, std::uint64_t second)
{
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ (second * 0xBF58476D1CE4E5B9ull + 1);
    for (std::size_t i = 0; i < size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (std::size_t k = 0; k < 8 && i + k < size; ++k) bytes[i + k] = static_cast<std::uint8_t>(state >> (8 * k));
    }
}

namespace {

// Thermal noise: a seeded generator drawing 16-bit indices into an inverse normal
// table. Values are odd and the satellites' are even, so a sum is never zero.
constexpr double noiseSigma = 1024;

class GaussianNoise {
public:
    explicit GaussianNoise(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)
    {
        for (std::size_t i = 0; i < table_.size() / 2; ++i) {
            // The quantile of probability (i + 0.5) / 65536 below the median, by bisection.
            const double p = (static_cast<double>(i) + 0.5) / static_cast<double>(table_.size());
            double low = -10, high = 0;
            for (int k = 0; k < 60; ++k) {
                const double mid = (low + high) / 2;
                if (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p)
                    low = mid;
                else
                    high = mid;
            }
            const auto value = static_cast<std::int16_t>(2 * std::lround(low * noiseSigma / 2 - 0.5) + 1);
            table_[i] = value;
            table_[table_.size() - 1 - i] = static_cast<std::int16_t>(-value);
        }
    }

    void fill(std::int16_t* out, int count)
    {
        for (int i = 0; i < count; i += 4) {
            const std::uint64_t r = next();
            for (int k = 0; k < 4 && i + k < count; ++k) out[i + k] = table_[(r >> (16 * k)) & 0xFFFFu];
        }
    }

private:
    std::uint64_t next()
    {
        // splitmix64
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t state_;
    std::array<std::int16_t, 65536> table_{};
};

constexpr int carrierTableBits = 6;
constexpr int carrierTableSize = 1 << carrierTableBits;

struct Channel {
    int prn = 0;
    std::array<std::uint8_t, gps::codeLength> chips{};      // 0 or carrierTableSize (the sign half of the table)
    std::array<std::int16_t, 2 * carrierTableSize> wave{};  // amplitude * cos, then its negation
    std::unique_ptr<gps::NavigationMessage> navigation;
    double delayAtBlockStart = 0;         // seconds: range / c minus the satellite clock offset, plus the atmosphere's
    double carrierDelayAtBlockStart = 0;  // the same for the carrier, which the ionosphere advances
    bool active = false;
    // With broadcast ephemerides: whether the satellite has a valid set in frame
    // firstFrame + k (30 s each, counted from the start of the base week).
    std::vector<bool> validFrames;
    std::int64_t firstFrame = 0;
};

// The code and carrier delays of a channel's signal, in seconds.
struct ChannelDelay {
    double code = 0;
    double carrier = 0;
};

double elevationOf(const Ecef& receiver, const Ecef& satellite)
{
    const double dx = satellite.x - receiver.x, dy = satellite.y - receiver.y, dz = satellite.z - receiver.z;
    // Geodetic up from the receiver's position (the normal of the ellipsoid).
    const double p = std::hypot(receiver.x, receiver.y);
    const double e2 = 6.69437999014e-3;
    double latitude = std::atan2(receiver.z, p * (1 - e2));
    for (int i = 0; i < 5; ++i) {
        const double n = 6378137.0 / std::sqrt(1 - e2 * std::sin(latitude) * std::sin(latitude));
        const double height = p / std::cos(latitude) - n;
        latitude = std::atan2(receiver.z, p * (1 - e2 * n / (n + height)));
    }
    const double longitude = std::atan2(receiver.y, receiver.x);
    const double up = std::cos(latitude) * std::cos(longitude) * dx + std::cos(latitude) * std::sin(longitude) * dy +
                      std::sin(latitude) * dz;
    return std::asin(up / std::sqrt(dx * dx + dy * dy + dz * dz)) * 180 / std::numbers::pi;
}

}  // namespace

struct SignalGenerator::Impl {
    GeneratorSettings settings;
    GeneratorLog log;
    std::optional<ReceiverPath> path;
    std::vector<AlmanacRecord> almanac;
    int almanacWeek = 0;
    std::vector<Channel> channels;  // one per healthy almanac satellite, or per satellite of the ephemeris file
    std::vector<GeneratedSatellite> initial;
    std::vector<std::string> notes;
    atmosphere::Model atmosphereModel;
    GaussianNoise noise;
    long long secondIndex = 0;
    std::int64_t startMs = 0;  // whole milliseconds of the start since the base week began
    double startFractionMs = 0;
    std::vector<std::int16_t> sums = std::vector<std::int16_t>(generatorBlockSamples);

    Impl(const GeneratorSettings& s, GeneratorLog l) : settings(s), log(std::move(l)), noise(s.seed) {}

    Ecef receiverAt(double secondsAfterStart) const
    {
        if (settings.staticPosition) return geodeticToEcef(settings.latitude, settings.longitude, settings.altitude);
        return path->positionAt(secondsAfterStart);
    }

    // Signal delay of a satellite received at t (seconds since the base week began): the
    // light time to the satellite at transmission, turned with the Earth during the
    // travel, less the satellite's clock offset at transmission, plus the atmosphere's
    // delays at the receiver's place (when a model is on).
    ChannelDelay delayAt(const Channel& channel, double t, const Ecef& receiver, const atmosphere::Place* place,
                         Ecef* satellitePosition = nullptr) const
    {
        double travel = 0.075;
        gps::SatelliteState state;
        for (int iteration = 0; iteration < 4; ++iteration) {
            const double transmit = t - travel;
            const gps::BroadcastEphemeris& eph = channel.navigation->signalEphemerisAt(transmit);
            state = gps::satelliteState(eph, transmit - channel.navigation->weekOffset(eph));
            const double turn = gps::earthRotationRate * travel;
            const double x = state.x * std::cos(turn) + state.y * std::sin(turn);
            const double y = -state.x * std::sin(turn) + state.y * std::cos(turn);
            state.x = x;
            state.y = y;
            const double range = std::sqrt((x - receiver.x) * (x - receiver.x) + (y - receiver.y) * (y - receiver.y) +
                                           (state.z - receiver.z) * (state.z - receiver.z));
            travel = range / gps::speedOfLight;
        }
        if (satellitePosition) *satellitePosition = {state.x, state.y, state.z};
        const double delay = travel - state.clockOffset;
        if (!place || !atmosphereModel.any()) return {delay, delay};
        const atmosphere::PathDelay extra = atmosphereModel.delays(*place, {state.x, state.y, state.z}, t);
        return {delay + extra.code, delay + extra.carrier};
    }

    std::optional<atmosphere::Place> placeOf(const Ecef& receiver) const
    {
        if (!atmosphereModel.any()) return std::nullopt;
        return atmosphere::placeOf(receiver);
    }

    // Whether the channel's signal and message have a valid set for the second of
    // reception from t: the signal follows a frame's set from 18 s into it, and the
    // travel takes under 0.1 s.
    static bool validFor(const Channel& channel, double t)
    {
        if (channel.validFrames.empty()) return true;
        const auto first = static_cast<std::int64_t>(std::floor((t - 18.2) / 30)) - channel.firstFrame;
        const auto last = static_cast<std::int64_t>(std::floor((t + 1) / 30)) - channel.firstFrame;
        if (first < 0 || last >= static_cast<std::int64_t>(channel.validFrames.size())) return false;
        for (std::int64_t k = first; k <= last; ++k)
            if (!channel.validFrames[static_cast<std::size_t>(k)]) return false;
        return true;
    }

    double cn0For(double elevationDegrees) const
    {
        const double sine = std::max(0.0, std::sin(elevationDegrees * std::numbers::pi / 180));
        return settings.zenithCn0 - settings.noiseFigureDb - 3 * (1 - sine);
    }

    void setAmplitude(Channel& channel, double cn0)
    {
        // A real carrier of amplitude A in noise of variance sigma^2 over fs / 2:
        // C/N0 = (A^2 / 2) / (sigma^2 / (fs / 2)).
        const double amplitude = noiseSigma * std::sqrt(4 * std::pow(10.0, cn0 / 10) / generatorSampleRate);
        for (int k = 0; k < carrierTableSize; ++k) {
            const double value = amplitude * std::cos(2 * std::numbers::pi * (k + 0.5) / carrierTableSize);
            const auto even = static_cast<std::int16_t>(2 * std::lround(value / 2));
            channel.wave[static_cast<std::size_t>(k)] = even;
            channel.wave[static_cast<std::size_t>(k + carrierTableSize)] = static_cast<std::int16_t>(-even);
        }
    }

    double secondsOfWeek(double secondsAfterStart) const { return settings.startSeconds + secondsAfterStart; }

    // Once a second: satellites below the mask leave, the highest new ones above it
    // join while channels are free.
    void updateVisibility(double secondsAfterStart, bool first)
    {
        const Ecef receiver = receiverAt(secondsAfterStart);
        const auto place = placeOf(receiver);
        const double t = secondsOfWeek(secondsAfterStart);
        std::vector<std::pair<double, Channel*>> candidates;
        int activeCount = 0;
        for (Channel& channel : channels) {
            if (!validFor(channel, t)) {
                if (channel.active && log)
                    log(fmt::format("PRN {} leaves at {} s: no valid ephemeris", channel.prn, secondsAfterStart));
                channel.active = false;
                continue;
            }
            Ecef satellite;
            delayAt(channel, t, receiver, nullptr, &satellite);
            const double elevation = elevationOf(receiver, satellite);
            if (channel.active) {
                if (elevation < settings.maskDegrees) {
                    channel.active = false;
                    if (log) log(fmt::format("PRN {} sets below the mask at {} s", channel.prn, secondsAfterStart));
                } else {
                    setAmplitude(channel, cn0For(elevation));
                    ++activeCount;
                }
            } else if (elevation >= settings.maskDegrees) {
                candidates.emplace_back(elevation, &channel);
            }
        }
        std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [elevation, channel] : candidates) {
            if (activeCount >= settings.maxSatellites) break;
            channel->active = true;
            ++activeCount;
            setAmplitude(*channel, cn0For(elevation));
            const ChannelDelay delay = delayAt(*channel, t, receiver, place ? &*place : nullptr);
            channel->delayAtBlockStart = delay.code;
            channel->carrierDelayAtBlockStart = delay.carrier;
            if (first)
                initial.push_back({channel->prn, elevation, cn0For(elevation)});
            else if (log)
                log(fmt::format("PRN {} rises above the mask at {} s", channel->prn, secondsAfterStart));
        }
        if (first)
            std::sort(initial.begin(), initial.end(), [](const auto& a, const auto& b) { return a.prn < b.prn; });
    }

    Channel channelFor(int prn) const
    {
        Channel channel;
        channel.prn = prn;
        const auto code = gps::caCode(prn);
        for (int chip = 0; chip < gps::codeLength; ++chip)
            channel.chips[static_cast<std::size_t>(chip)] =
                static_cast<std::uint8_t>(code[static_cast<std::size_t>(chip)] ? carrierTableSize : 0);
        return channel;
    }

    // The satellites of a RINEX navigation file: each broadcasts, frame by frame, the set
    // the sky model holds in force at the frame's start, and is left out while it has
    // none; the almanac pages are made from the sets in force at the start.
    void setUpFromEphemerides()
    {
        const std::string source = settings.ephemerisFile.string();
        const RinexNavigation navigation = readRinexNavigation(settings.ephemerisFile);
        sky::SkyModel sky = sky::SkyModel::fromRinex(navigation, source);
        sky.anchor(settings.week, settings.startSeconds);
        for (const std::string& line : navigation.skipped) notes.push_back(fmt::format("'{}': {}", source, line));
        try {
            sky.checkCovers(settings.startSeconds);
        } catch (const Error& e) {
            throw Error(fmt::format("the start (GPS_Week {}, GPS_Start_Time_in_sec {}) lies outside every set: {}",
                                    settings.week, settings.startSeconds, e.what()));
        }

        const gps::UtcParameters utc = gps::utcParametersOf(navigation, settings.week, settings.startSeconds);
        if (settings.ionosphere.value_or(true)) {
            if (navigation.ionosphere)
                atmosphereModel.ionosphere = utc.ionosphere;
            else
                notes.push_back(fmt::format("'{}' has no ionosphere coefficients: the ionosphere is left out", source));
        }
        atmosphereModel.troposphere = settings.troposphere.value_or(true);

        // Frames from a minute before the start to a minute after the end.
        const auto firstFrame = static_cast<std::int64_t>(std::floor((settings.startSeconds - 60) / 30));
        const auto lastFrame =
            static_cast<std::int64_t>(std::floor((settings.startSeconds + settings.durationSeconds + 60) / 30));
        const int toa = std::clamp(static_cast<int>(std::lround(settings.startSeconds / 4096)) * 4096, 0, 602112);
        std::vector<AlmanacRecord> records;
        for (std::size_t i = 0; i < sky.size(); ++i)
            if (const gps::BroadcastEphemeris* e = sky.ephemerisAt(i, settings.startSeconds))
                records.push_back(gps::almanacFromEphemeris(*e, settings.week, toa));
        if (records.empty())
            throw Error(fmt::format("the start (GPS_Week {}, GPS_Start_Time_in_sec {}) finds no healthy set in '{}'",
                                    settings.week, settings.startSeconds, source));
        for (std::size_t i = 0; i < sky.size(); ++i) {
            Channel channel = channelFor(sky.prn(i));
            gps::BroadcastSchedule schedule = gps::broadcastSchedule(sky, i, firstFrame, lastFrame);
            if (schedule.sets.empty()) {
                notes.push_back(fmt::format("PRN {} has no valid ephemeris during the run: left out", channel.prn));
                continue;
            }
            channel.firstFrame = schedule.firstFrame;
            channel.validFrames = std::move(schedule.validFrames);
            channel.navigation = std::make_unique<gps::NavigationMessage>(std::move(schedule.sets), records,
                                                                          settings.week, utc, settings.week);
            channel.navigation->scheduleBroadcasts(std::move(schedule.broadcastFrom));
            noteGaps(channel);
            channels.push_back(std::move(channel));
        }
    }

    // A note for each span of the run in which the channel has no valid set.
    void noteGaps(const Channel& channel)
    {
        long long gapStart = -1;
        for (long long second = 0; second <= settings.durationSeconds; ++second) {
            const bool valid = validFor(channel, secondsOfWeek(static_cast<double>(second)));
            if (!valid && gapStart < 0) gapStart = second;
            if ((valid || second == settings.durationSeconds) && gapStart >= 0) {
                notes.push_back(
                    fmt::format("PRN {} has no valid ephemeris from {} s to {} s after the start: left out then",
                                channel.prn, gapStart, valid ? second : settings.durationSeconds));
                gapStart = -1;
            }
        }
    }

    void setUp()
    {
        if (settings.noiseOnly) return;
        if (!settings.staticPosition) path = ReceiverPath::fromNmea(settings.nmeaFile);
        startMs = static_cast<std::int64_t>(std::floor(settings.startSeconds * 1000));
        startFractionMs = settings.startSeconds * 1000 - static_cast<double>(startMs);
        if (!settings.ephemerisFile.empty()) {
            setUpFromEphemerides();
            updateVisibility(0, true);
            return;
        }
        if (settings.ionosphere.value_or(false))
            notes.push_back("the ionosphere needs the coefficients of an ephemeris file: left out");
        atmosphereModel.troposphere = settings.troposphere.value_or(false);
        almanac = readYumaAlmanac(settings.almanacFile);
        almanacWeek = resolveTenBitWeek(almanac.front().week, settings.week);

        // Ephemeris sets every two hours, the first with its toe on the 16-s grid nearest
        // the start; enough to cover the whole recording.
        const int firstToe = static_cast<int>(std::lround(settings.startSeconds / 16)) * 16;
        const long long sets = settings.durationSeconds / 7200 + 2;
        gps::UtcParameters utc;
        utc.leapSeconds = gps::leapSecondsAtWeek(settings.week);
        utc.referenceWeek = settings.week;
        utc.referenceTime = static_cast<int>(settings.startSeconds / 4096) * 4096;
        for (const AlmanacRecord& record : almanac) {
            if (record.health != 0) continue;
            std::vector<gps::BroadcastEphemeris> ephemerides;
            for (long long k = 0; k < sets; ++k) {
                long long toe = firstToe + k * 7200;
                int week = settings.week;
                while (toe >= gps::secondsPerWeek) {
                    toe -= gps::secondsPerWeek;
                    ++week;
                }
                const int iode = static_cast<int>((toe / 16 + week) % 250 + 1);
                ephemerides.push_back(
                    gps::ephemerisFromAlmanac(record, almanacWeek, week, static_cast<int>(toe), iode));
            }
            Channel channel = channelFor(record.prn);
            channel.navigation = std::make_unique<gps::NavigationMessage>(std::move(ephemerides), almanac, almanacWeek,
                                                                          utc, settings.week);
            channels.push_back(std::move(channel));
        }
        if (channels.empty())
            throw Error(fmt::format("the almanac '{}' holds no healthy satellite", settings.almanacFile.string()));
        updateVisibility(0, true);
    }

    // One millisecond of signal (block k of the recording) into sums.
    void block(std::int64_t k, double secondsAfterStart)
    {
        noise.fill(sums.data(), generatorBlockSamples);
        const double tEnd = secondsOfWeek(secondsAfterStart + 0.001);
        const Ecef receiverEnd = receiverAt(secondsAfterStart + 0.001);
        const auto placeEnd = placeOf(receiverEnd);
        // The intermediate frequency's phase at the block's first sample, exactly.
        const std::int64_t sampleInSecond = (k % 1000) * generatorBlockSamples;
        const std::int64_t ifNumerator = (settings.intermediateFrequencyHz * sampleInSecond) % generatorSampleRate;
        const std::uint32_t ifPhase =
            static_cast<std::uint32_t>((static_cast<std::uint64_t>(ifNumerator) << 32) / generatorSampleRate);
        const double ifStep = static_cast<double>(settings.intermediateFrequencyHz) / generatorSampleRate;

        for (Channel& channel : channels) {
            if (!channel.active) continue;
            const double delayStart = channel.delayAtBlockStart;
            const double carrierDelayStart = channel.carrierDelayAtBlockStart;
            const ChannelDelay end = delayAt(channel, tEnd, receiverEnd, placeEnd ? &*placeEnd : nullptr);
            channel.delayAtBlockStart = end.code;
            channel.carrierDelayAtBlockStart = end.carrier;
            const double change = end.code - delayStart;
            const double carrierChange = end.carrier - carrierDelayStart;

            // Satellite time of the first sample, in milliseconds: code epoch and chip.
            const double fractionMs = startFractionMs - delayStart * 1000;
            const double wholeMs = std::floor(fractionMs);
            std::int64_t epoch = startMs + k + static_cast<std::int64_t>(wholeMs);
            const double chipPhase = (fractionMs - wholeMs) * gps::codeLength;
            const double chipStep = gps::codeLength * (1 - change * 1000) / generatorBlockSamples;
            constexpr double fixedOne = 4294967296.0;
            std::uint64_t code = static_cast<std::uint64_t>(chipPhase * fixedOne);
            const auto codeStep = static_cast<std::uint64_t>(std::llround(chipStep * fixedOne));
            constexpr std::uint64_t codeWrap = static_cast<std::uint64_t>(gps::codeLength) << 32;
            if (code >= codeWrap) code = codeWrap - 1;

            // Carrier: the intermediate frequency less the phase the delay takes away.
            const double delayCycles = gps::l1Frequency * carrierDelayStart;
            const double carrierStart = -(delayCycles - std::floor(delayCycles));
            std::uint32_t carrier =
                ifPhase +
                static_cast<std::uint32_t>(static_cast<std::int64_t>(std::llround((carrierStart + 1) * fixedOne)));
            const double cycleStep = ifStep - gps::l1Frequency * carrierChange / generatorBlockSamples;
            const auto carrierStep =
                static_cast<std::uint32_t>(static_cast<std::int64_t>(std::llround(cycleStep * fixedOne)));

            std::uint8_t dataSign = static_cast<std::uint8_t>(
                channel.navigation->bit(epoch >= 0 ? epoch / 20 : (epoch - 19) / 20) ? carrierTableSize : 0);
            const std::int16_t* wave = channel.wave.data();
            const std::uint8_t* chips = channel.chips.data();
            std::int16_t* out = sums.data();
            int i = 0;
            while (i < generatorBlockSamples) {
                // Samples up to the next code epoch, where the data bit may change.
                const std::uint64_t left = (codeWrap - code + codeStep - 1) / codeStep;
                const int end = static_cast<int>(std::min<std::uint64_t>(
                                    left, static_cast<std::uint64_t>(generatorBlockSamples - i))) +
                                i;
                for (; i < end; ++i) {
                    out[i] = static_cast<std::int16_t>(
                        out[i] + wave[(chips[code >> 32] ^ dataSign) | (carrier >> (32 - carrierTableBits))]);
                    code += codeStep;
                    carrier += carrierStep;
                }
                if (code >= codeWrap) {
                    code -= codeWrap;
                    ++epoch;
                    dataSign = static_cast<std::uint8_t>(
                        channel.navigation->bit(epoch >= 0 ? epoch / 20 : (epoch - 19) / 20) ? carrierTableSize : 0);
                }
            }
        }
    }

    void packBlock(std::uint8_t* bytes) const
    {
        const std::int16_t* s = sums.data();
        for (int word = 0; word < generatorBlockSamples / 16; ++word) {
            unsigned value = 0;
            for (int j = 0; j < 16; ++j) value |= static_cast<unsigned>(s[word * 16 + j] > 0) << j;
            bytes[2 * word] = static_cast<std::uint8_t>(value & 0xFFu);
            bytes[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    }

    void nextSecond(std::uint8_t* bytes)
    {
        if (settings.noiseOnly) {
            fillNoiseSecond(bytes, generatorSecondBytes, static_cast<std::uint64_t>(secondIndex));
            ++secondIndex;
            return;
        }
        if (secondIndex > 0) updateVisibility(static_cast<double>(secondIndex), false);
        for (int ms = 0; ms < 1000; ++ms) {
            const std::int64_t k = secondIndex * 1000 + ms;
            block(k, static_cast<double>(k) / 1000);
            packBlock(bytes + static_cast<std::size_t>(ms) * (generatorBlockSamples / 8));
        }
        ++secondIndex;
    }
};

SignalGenerator::SignalGenerator(const GeneratorSettings& settings, GeneratorLog log)
    : impl_(std::make_unique<Impl>(settings, std::move(log)))
{
    impl_->setUp();
}

SignalGenerator::~SignalGenerator() = default;

const std::vector<GeneratedSatellite>& SignalGenerator::initialSatellites() const
{
    return impl_->initial;
}

const std::vector<std::string>& SignalGenerator::notes() const
{
    return impl_->notes;
}

void SignalGenerator::nextSecond(std::uint8_t* bytes)
{
    impl_->nextSecond(bytes);
}

bool SignalGenerator::run(const SecondSink& sink)
{
    std::vector<std::uint8_t> second(generatorSecondBytes);
    for (long long s = 0; s < impl_->settings.durationSeconds; ++s) {
        nextSecond(second.data());
        if (!sink(second.data(), second.size(), s)) return false;
    }
    return true;
}

}  // namespace trajix
