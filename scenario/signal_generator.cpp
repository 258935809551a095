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
#include "scenario/gps_week.hpp"
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
    std::size_t satellite = 0;                              // in the sky model
    std::unique_ptr<gps::NavigationMessage> navigation;
    double delayAtBlockStart = 0;  // seconds: range / c minus the satellite clock offset
    bool active = false;
};

}  // namespace

struct SignalGenerator::Impl {
    GeneratorSettings settings;
    GeneratorLog log;
    std::optional<ReceiverPath> path;
    std::vector<AlmanacRecord> almanac;
    int almanacWeek = 0;
    std::optional<sky::SkyModel> skyModel;  // the satellites' orbits, elevations and signal strengths
    std::vector<Channel> channels;          // one per healthy almanac satellite
    std::vector<GeneratedSatellite> initial;
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
    // light time to the satellite at transmission less its clock offset then.
    double delayAt(const Channel& channel, double t, const Ecef& receiver, Ecef* satellitePosition = nullptr) const
    {
        const auto signal = skyModel->signalAt(channel.satellite, t, receiver);
        if (satellitePosition) *satellitePosition = signal->position;
        return signal->travel - signal->clockOffset;
    }

    double cn0For(double elevationDegrees) const
    {
        return sky::carrierToNoise(elevationDegrees, {settings.zenithCn0, settings.noiseFigureDb});
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
        const sky::ReceiverFrame frame = sky::receiverFrame(receiver);
        const double t = secondsOfWeek(secondsAfterStart);
        std::vector<std::pair<double, Channel*>> candidates;
        int activeCount = 0;
        for (Channel& channel : channels) {
            Ecef satellite;
            delayAt(channel, t, receiver, &satellite);
            const double elevation = sky::elevationDegrees(frame, satellite);
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
            channel->delayAtBlockStart = delayAt(*channel, t, receiver);
            if (first)
                initial.push_back({channel->prn, elevation, cn0For(elevation)});
            else if (log)
                log(fmt::format("PRN {} rises above the mask at {} s", channel->prn, secondsAfterStart));
        }
        if (first)
            std::sort(initial.begin(), initial.end(), [](const auto& a, const auto& b) { return a.prn < b.prn; });
    }

    void setUp()
    {
        if (settings.noiseOnly) return;
        almanac = readYumaAlmanac(settings.almanacFile);
        if (!settings.staticPosition) path = ReceiverPath::fromNmea(settings.nmeaFile);
        almanacWeek = resolveTenBitWeek(almanac.front().week, settings.week);
        startMs = static_cast<std::int64_t>(std::floor(settings.startSeconds * 1000));
        startFractionMs = settings.startSeconds * 1000 - static_cast<double>(startMs);

        // The sky model lays ephemeris sets every two hours, the first with its toe on the
        // 16-s grid nearest the start; enough of them to cover the whole recording.
        skyModel = sky::SkyModel::fromAlmanac(almanac, almanacWeek, settings.almanacFile.string());
        skyModel->anchor(settings.week, settings.startSeconds);
        const long long sets = settings.durationSeconds / 7200 + 2;
        gps::UtcParameters utc;
        utc.leapSeconds = gps::leapSecondsAtWeek(settings.week);
        utc.referenceWeek = settings.week;
        utc.referenceTime = static_cast<int>(settings.startSeconds / 4096) * 4096;
        for (std::size_t satellite = 0; satellite < skyModel->size(); ++satellite) {
            Channel channel;
            channel.prn = skyModel->prn(satellite);
            channel.satellite = satellite;
            const auto code = gps::caCode(channel.prn);
            for (int chip = 0; chip < gps::codeLength; ++chip)
                channel.chips[static_cast<std::size_t>(chip)] =
                    static_cast<std::uint8_t>(code[static_cast<std::size_t>(chip)] ? carrierTableSize : 0);
            channel.navigation = std::make_unique<gps::NavigationMessage>(skyModel->almanacEphemerides(satellite, sets),
                                                                          almanac, almanacWeek, utc, settings.week);
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
        // The intermediate frequency's phase at the block's first sample, exactly.
        const std::int64_t sampleInSecond = (k % 1000) * generatorBlockSamples;
        const std::int64_t ifNumerator = (settings.intermediateFrequencyHz * sampleInSecond) % generatorSampleRate;
        const std::uint32_t ifPhase =
            static_cast<std::uint32_t>((static_cast<std::uint64_t>(ifNumerator) << 32) / generatorSampleRate);
        const double ifStep = static_cast<double>(settings.intermediateFrequencyHz) / generatorSampleRate;

        for (Channel& channel : channels) {
            if (!channel.active) continue;
            const double delayStart = channel.delayAtBlockStart;
            const double delayEnd = delayAt(channel, tEnd, receiverEnd);
            channel.delayAtBlockStart = delayEnd;
            const double change = delayEnd - delayStart;

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
            const double delayCycles = gps::l1Frequency * delayStart;
            const double carrierStart = -(delayCycles - std::floor(delayCycles));
            std::uint32_t carrier =
                ifPhase +
                static_cast<std::uint32_t>(static_cast<std::int64_t>(std::llround((carrierStart + 1) * fixedOne)));
            const double cycleStep = ifStep - gps::l1Frequency * change / generatorBlockSamples;
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
