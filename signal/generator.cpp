#include "signal/generator.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/platform.hpp"
#include "geo/geodesy.hpp"
#include "scenario/gps_week.hpp"
#include "signal/atmosphere.hpp"
#include "signal/beidou_b1i.hpp"
#include "signal/galileo_e1.hpp"
#include "signal/glonass_l1.hpp"
#include "signal/sampling.hpp"
#include "sky/broadcast_fields.hpp"
#include "sky/gps_orbit.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/sky_model.hpp"
#include "sky/system_set.hpp"
#include "sky/yuma_almanac.hpp"
#include "street/street_sky.hpp"

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
    std::string choice(const std::string& key, const std::vector<std::string>& allowed) const
    {
        const ProfileEntry& e = entry(key);
        if (std::find(allowed.begin(), allowed.end(), e.value) == allowed.end())
            throw Error(fmt::format("{} = '{}' (line {} of '{}') is not supported: only {}", key, e.value, e.line,
                                    path_.string(), fmt::join(allowed, " or ")));
        return e.value;
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

GeneratorSettings readGeneratorProfile(const std::filesystem::path& profilePath, bool nmeaFileNeeded,
                                       const std::filesystem::path& ephemerisFile)
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
    s.format.rateKHz = static_cast<int>(profile.integer("SampleRate_in_KHz", 1, 1000000));
    s.format.bitsPerSample = static_cast<int>(profile.integer("bitPerSample", 1, 64));
    s.format.complex = profile.choice("IQ_format", {"I", "IQ"}) == "IQ";
    s.format.intermediateFrequencyHz = profile.integer("IFFreq_in_Hz", -1000000000, 1000000000);
    if (profile.hasValue("CenterFreq_in_Hz"))
        s.format.centerHz = profile.integer("CenterFreq_in_Hz", 1, 100000000000LL);
    s.maskDegrees = profile.number("Mask_in_deg", -90, 90);
    s.noiseFigureDb = profile.number("NoiseFigure_in_dB", 0, 30);
    // An ephemeris file brings its own almanac; the almanac file is then not read.
    if (profile.hasValue("Ephemeris_File")) s.ephemerisFile = profile.file("Ephemeris_File");
    if (!ephemerisFile.empty()) s.ephemerisFile = ephemerisFile;
    if (s.ephemerisFile.empty() && !profile.hasValue("Almanac_File"))
        throw Error(
            fmt::format("the profile '{}' has no value for Almanac_File (nor for Ephemeris_File, which would "
                        "stand in for it)",
                        profilePath.string()));
    if (profile.hasValue("Almanac_File")) s.almanacFile = profile.file("Almanac_File");
    s.nmeaFile = profile.file("Source_NMEA_file");
    // TrajixBinary's --output may stand in for it.
    if (profile.has("IF_IQ_File")) s.output = profile.file("IF_IQ_File");
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
    if (profile.has("Ionosphere")) s.ionosphere = profile.integer("Ionosphere", 0, 1) == 1;
    if (profile.has("Troposphere")) s.troposphere = profile.integer("Troposphere", 0, 1) == 1;
    if (profile.hasValue("Systems")) {
        const ProfileEntry& e = profile.entry("Systems");
        try {
            s.systems = parseSignalSystems(e.value);
        } catch (const Error& error) {
            throw Error(fmt::format("Systems = '{}' (line {} of '{}'): {}", e.value, e.line, profilePath.string(),
                                    error.what()));
        }
    }
    if (profile.hasValue("Buildings_File")) s.buildingsFile = profile.file("Buildings_File");
    if (profile.hasValue("Buildings_Height_Attribute")) {
        if (s.buildingsFile.empty())
            throw Error(fmt::format("Buildings_Height_Attribute (line {} of '{}') needs a Buildings_File",
                                    profile.entry("Buildings_Height_Attribute").line, profilePath.string()));
        s.streetRead.heights.heightAttribute = profile.entry("Buildings_Height_Attribute").value;
    }
    if (!s.noiseOnly && !s.staticPosition && nmeaFileNeeded) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(s.nmeaFile, ec))
            throw Error(fmt::format("the NMEA file '{}' named in '{}' does not exist", s.nmeaFile.string(),
                                    profilePath.string()));
    }
    return s;
}
SignalSystems parseSignalSystems(std::string_view list)
{
    SignalSystems systems;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string_view name = trimBlanks(list.substr(start, comma - start));
        const std::optional<sky::GnssSystem> system = sky::systemNamed(name);
        if (!system)
            throw Error(fmt::format("'{}' is not a system: the signal carries gps, galileo, beidou and glonass", name));
        if (!systems.insert(*system).second) throw Error(fmt::format("{} is named twice", name));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return systems;
}

std::string signalSystemsText(const SignalSystems& systems)
{
    std::string text;
    for (const sky::GnssSystem system : systems)
        text += (text.empty() ? "" : ",") + std::string(sky::systemName(system));
    return text;
}

std::string satelliteName(sky::GnssSystem system, int prn)
{
    if (system == sky::GnssSystem::gps) return std::to_string(prn);
    return fmt::format("{}{:02}", sky::rinexLetter(system), prn);
}

// ---------------------------------------------------------------------------------
// Sample format

double SampleFormat::bytesPerMillisecond() const
{
    if (bitsPerSample == 1) return rateKHz / 8.0;
    return static_cast<double>(rateKHz) * (complex ? 2 : 1) * (bitsPerSample / 8);
}

std::size_t SampleFormat::bytesPerSecond() const
{
    return static_cast<std::size_t>(bytesPerMillisecond() * 1000);
}

namespace {

constexpr long long gpsL1Hz = 1575420000;
constexpr long long beidouB1Hz = 1561098000;
constexpr long long glonassL1Hz = 1602000000;
constexpr long long glonassSpacingHz = 562500;

// The format checks of the GPS and Galileo signals at the centre, as they were before
// recordings held other bands.
void checkBaseFormat(const SampleFormat& f, bool galileo, bool centredBands)
{
    // The C/A main lobe reaches 1.023 MHz either side of the carrier, the main lobes of
    // Galileo's BOC(1,1) 2.046 MHz.
    const long long halfBand = galileo ? 2046000 : 1023000;
    if (f.bitsPerSample != 1 && f.bitsPerSample != 8 && f.bitsPerSample != 16)
        throw Error(fmt::format("bitPerSample = {}: samples have 1, 8 or 16 bits", f.bitsPerSample));
    if (f.bitsPerSample == 1 && f.complex)
        throw Error("bitPerSample = 1: one-bit samples are real only (IQ_format = I)");
    const int lowest = centredBands ? (f.complex ? 2046 : 4092) * (galileo ? 2 : 1) : 1;
    if (f.rateKHz < lowest || f.rateKHz > generatorMaxRateKHz)
        throw Error(fmt::format("SampleRate_in_KHz = {}: {} samples{} need {} to {} kHz", f.rateKHz,
                                f.complex ? "complex" : "real", galileo ? " with Galileo E1 (Systems)" : "", lowest,
                                generatorMaxRateKHz));
    if (f.bitsPerSample == 1 && f.rateKHz % 2 != 0)
        throw Error(
            fmt::format("SampleRate_in_KHz = {}: one-bit samples need an even rate in kHz (whole 16-bit "
                        "words every second)",
                        f.rateKHz));
    if (!centredBands) return;
    const long long nyquist = static_cast<long long>(f.rateKHz) * 500;
    if (f.complex) {
        if (std::llabs(f.intermediateFrequencyHz) > nyquist - halfBand)
            throw Error(fmt::format("IFFreq_in_Hz = {}: complex samples at {} kHz carry an IF from -{} to {} Hz",
                                    f.intermediateFrequencyHz, f.rateKHz, nyquist - halfBand, nyquist - halfBand));
    } else if (f.intermediateFrequencyHz < halfBand || f.intermediateFrequencyHz > nyquist - halfBand) {
        throw Error(fmt::format("IFFreq_in_Hz = {}: real samples at {} kHz carry an IF from {} to {} Hz",
                                f.intermediateFrequencyHz, f.rateKHz, halfBand, nyquist - halfBand));
    }
}

bool onlyGpsAndGalileo(const SignalSystems& systems)
{
    return std::all_of(systems.begin(), systems.end(),
                       [](sky::GnssSystem s) { return s == sky::GnssSystem::gps || s == sky::GnssSystem::galileo; });
}

}  // namespace

std::vector<SignalBand> signalBands(const SignalSystems& systems)
{
    std::vector<SignalBand> bands;
    for (const sky::GnssSystem system : systems) switch (system) {
            case sky::GnssSystem::gps:
                bands.push_back({"GPS L1 C/A", gpsL1Hz, 1023000});
                break;
            case sky::GnssSystem::galileo:
                bands.push_back({"Galileo E1", gpsL1Hz, 2046000});
                break;
            case sky::GnssSystem::beidou:
                bands.push_back({"BeiDou B1I", beidouB1Hz, 2046000});
                break;
            case sky::GnssSystem::glonass:
                for (int k = -7; k <= 6; ++k)
                    bands.push_back(
                        {fmt::format("GLONASS L1 channel {}", k), glonassL1Hz + k * glonassSpacingHz, 511000});
                break;
        }
    return bands;
}

long long defaultCenterHz(const SignalSystems& systems)
{
    if (onlyGpsAndGalileo(systems)) return gpsL1Hz;
    if (systems == SignalSystems{sky::GnssSystem::glonass}) return glonassL1Hz;
    long long low = std::numeric_limits<long long>::max(), high = std::numeric_limits<long long>::min();
    for (const SignalBand& band : signalBands(systems)) {
        low = std::min(low, band.carrierHz - band.halfWidthHz);
        high = std::max(high, band.carrierHz + band.halfWidthHz);
    }
    return (low + high) / 2;
}

long long centerHzOf(const SampleFormat& format, const SignalSystems& systems)
{
    return format.centerHz ? *format.centerHz : defaultCenterHz(systems);
}

void checkSignalBands(const SampleFormat& f, long long centerHz, const std::vector<SignalBand>& bands)
{
    // Each band's lowest and highest frequency in the samples.
    long long needed = 0;  // the least half rate in Hz
    const SignalBand* widest = nullptr;
    for (const SignalBand& band : bands) {
        const long long middle = f.intermediateFrequencyHz + band.carrierHz - centerHz;
        const long long low = middle - band.halfWidthHz, high = middle + band.halfWidthHz;
        if (!f.complex && low < 0)
            throw Error(
                fmt::format("IFFreq_in_Hz = {}: real samples centred at CenterFreq_in_Hz = {} put the main lobe of {} "
                            "({} Hz +-{} Hz) below 0 Hz; it needs an IF of at least {} Hz",
                            f.intermediateFrequencyHz, centerHz, band.name, band.carrierHz, band.halfWidthHz,
                            f.intermediateFrequencyHz - low));
        const long long reach = f.complex ? std::max(std::llabs(low), std::llabs(high)) : high;
        if (reach > needed) needed = reach, widest = &band;
    }
    long long leastKHz = (2 * needed + 999) / 1000;
    if (f.bitsPerSample == 1 && leastKHz % 2 != 0) ++leastKHz;
    if (widest && leastKHz > f.rateKHz)
        throw Error(fmt::format(
            "SampleRate_in_KHz = {}: {} samples with IFFreq_in_Hz = {} and CenterFreq_in_Hz = {} need at least "
            "{} kHz to hold the main lobe of {} ({} Hz +-{} Hz){}",
            f.rateKHz, f.complex ? "complex" : "real", f.intermediateFrequencyHz, centerHz, leastKHz, widest->name,
            widest->carrierHz, widest->halfWidthHz,
            leastKHz > generatorMaxRateKHz
                ? fmt::format(", more than the {} kHz made: choose another CenterFreq_in_Hz", generatorMaxRateKHz)
                : ""));
}

void checkSampleFormat(const SampleFormat& f, const SignalSystems& systems)
{
    const long long centre = centerHzOf(f, systems);
    // GPS and Galileo at 1575.42 MHz: the checks (and messages) of the recordings before.
    const bool centred = onlyGpsAndGalileo(systems) && centre == gpsL1Hz;
    checkBaseFormat(f, systems.count(sky::GnssSystem::galileo) > 0, centred);
    checkSignalBands(f, centre, signalBands(systems));
}

void checkSampleFormat(const SampleFormat& f, bool galileo)
{
    SignalSystems systems{sky::GnssSystem::gps};
    if (galileo) systems.insert(sky::GnssSystem::galileo);
    checkSampleFormat(f, systems);
}

// ---------------------------------------------------------------------------------
// The street

std::vector<SignalCopy> signalCopies(const street::SatelliteInStreet& satellite, bool covered)
{
    const auto copyOf = [](const street::Reflection& r) {
        return SignalCopy{r.extraPath / gps::speedOfLight, std::pow(10.0, -r.lossDb / 20)};
    };
    if (covered) return {};
    switch (satellite.reception) {
        case street::Reception::blocked:
            return {};
        case street::Reception::reflected:
            return {copyOf(*satellite.reflection)};
        case street::Reception::clear:
            break;
    }
    std::vector<SignalCopy> copies{SignalCopy{}};
    if (satellite.reflection) copies.push_back(copyOf(*satellite.reflection));
    return copies;
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

// The stand-in signal of fillNoiseSecond, made a piece at a time.
class NoiseBytes {
public:
    void fill(std::uint8_t* bytes, std::size_t size, std::uint64_t second, std::size_t offset)
    {
        if (second != second_ || offset != offset_) {
            // Only ever called in order; a new second starts its generator afresh.
            second_ = second;
            offset_ = 0;
            state_ = 0x9E3779B97F4A7C15ull ^ (second * 0xBF58476D1CE4E5B9ull + 1);
        }
        for (std::size_t i = 0; i < size; ++i, ++offset_) {
            if (offset_ % 8 == 0) {
                state_ ^= state_ << 13;
                state_ ^= state_ >> 7;
                state_ ^= state_ << 17;
            }
            bytes[i] = static_cast<std::uint8_t>(state_ >> (8 * (offset_ % 8)));
        }
    }

private:
    std::uint64_t second_ = ~0ull;
    std::size_t offset_ = 0;
    std::uint64_t state_ = 0;
};

// The scenario step's recordings keep the noise level they were made with; other
// formats use half of it, so that the strongest satellite's wave fits the vector loops'
// bytes at every rate.
constexpr double scenarioNoiseSigma = 1024;
constexpr double formatNoiseSigma = 512;

// The work is cut into chunks of blocks (one millisecond each) that one worker makes,
// and pieces of chunks handed to the sink in order. A chunk of 8 blocks of one-bit
// samples at an even rate in kHz holds whole 16-bit words.
constexpr int chunkBlocks = 8;
constexpr int pieceChunks = 5;
constexpr int pieceBlocks = chunkBlocks * pieceChunks;
constexpr int piecesPerSecond = 1000 / pieceBlocks;

// The code and carrier delays of a channel's signal, in seconds: range / c less the
// satellite clock offset, plus the atmosphere's delays (the ionosphere advances the
// carrier as much as it delays the code).
struct ChannelDelay {
    double code = 0;
    double carrier = 0;
};

struct Channel {
    sky::GnssSystem system = sky::GnssSystem::gps;
    int prn = 0;
    long long carrierHz = gpsL1Hz;  // the nominal carrier; it lies at the IF plus carrierHz less the centre
    std::unique_ptr<sampling::CodeTables> code;   // GPS: the C/A code; Galileo: E1-B with its subcarrier
    std::unique_ptr<sampling::CodeTables> pilot;  // Galileo: E1-C with its subcarrier, negated
    std::unique_ptr<galileo::InavMessage> inav;   // Galileo: the I/NAV message of E1-B
    std::unique_ptr<beidou::B1Message> b1;        // BeiDou: the D1 or D2 message of B1I
    std::unique_ptr<glonass::NavMessage> gnav;    // GLONASS: the strings of L1 C/A
    sampling::CarrierWave wave;
    double amplitude = 0;       // of wave, in noise units
    std::size_t satellite = 0;  // in the sky model
    // With a street: what arrives of the satellite this second, and what was last said
    // of it (its reception and the wall of its reflection).
    street::SatelliteInStreet inStreet;
    std::optional<std::pair<street::Reception, std::int64_t>> streetSaid;
    std::unique_ptr<gps::NavigationMessage> navigation;
    ChannelDelay delayAtBlockStart;  // at the start of the next second to plan
    bool active = false;
    // With broadcast ephemerides: whether the satellite has a valid set in frame
    // firstFrame + k (30 s each, counted from the start of the base week).
    std::vector<bool> validFrames;
    std::int64_t firstFrame = 0;
};

// What the workers need of one satellite for one second, fixed before its blocks are made.
struct PlannedChannel {
    std::size_t index = 0;  // into the generator's channels
    sampling::CarrierWave wave;
    sampling::AddRun addRun = sampling::addRunReference;
    sampling::AddRunPair addRunPair = sampling::addRunPairReference;  // Galileo's E1-B and E1-C
    bool joined = false;  // joined at this second's start: its first block starts at joinDelay
    ChannelDelay joinDelay;
    // The street: a copy arriving later than the direct signal (a reflection or an echo),
    // or none at all (silent: its delays are followed, nothing is added).
    double extraDelay = 0;
    bool silent = false;
};

struct SecondPlan {
    long long second = 0;
    std::vector<PlannedChannel> channels;
};

// One worker's own scratch: the sums of a chunk and the navigation words last read.
struct WorkerState {
    struct Subframe {
        std::int64_t index = std::numeric_limits<std::int64_t>::min();
        std::array<std::uint32_t, 10> words{};
    };
    std::vector<std::int16_t> inPhase, quadrature;
    struct PagePart {
        std::int64_t index = std::numeric_limits<std::int64_t>::min();
        galileo::PagePartSymbols symbols{};
    };
    std::vector<Subframe> subframes;   // per channel
    std::vector<PagePart> pageParts;   // per channel (Galileo)
    std::vector<ChannelDelay> delays;  // per planned channel: at the next block's start
    struct Carrier {
        std::int64_t modulo = 0;  // the channel's frequency in the samples, modulo the rate (Hz)
        double step = 0;          // and in cycles per sample
        double frequency = 0;     // its radio carrier, Hz
    };
    std::vector<Carrier> carriers;  // per planned channel
    // The plain way (referenceLoops): each channel's delay carried from block to block
    // through the whole recording, as one thread makes it.
    std::vector<ChannelDelay> carried;  // per channel
    std::int64_t carriedTo = -1;        // the block they belong to
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
    std::vector<std::string> notes;
    atmosphere::Model atmosphereModel;
    sampling::NoiseTable noise;
    std::vector<bool> activeBefore;  // channels active in the last second planned
    std::int64_t startMs = 0;        // whole milliseconds of the start since the base week began
    double startFractionMs = 0;
    std::int32_t gain = 1;         // of multi-bit samples, in 1/4096 (sampleGain)
    long long centerHz = gpsL1Hz;  // the radio frequency at the IF
    // GST minus GPS time: a0 + a1 (t - reference), t in seconds since the base week began.
    double gstMinusGpsA0 = 0, gstMinusGpsA1 = 0, gstMinusGpsReference = 0;
    // GLONASS time: milliseconds since 1980-01-06 on the UTC(SU) + 3 h scale less GPS
    // milliseconds since the base week began (whole seconds), and the fraction GLONASS
    // time runs ahead of GPS time beyond them (the file's GPUT and GLUT).
    std::int64_t glonassOffsetMs = 0;
    double glonassMinusGps = 0;
    // The buildings and tunnels around the path, and whether the receiver was under
    // cover at the last second planned.
    std::shared_ptr<const street::StreetModel> street;
    bool covered = false;

    bool carries(sky::GnssSystem system) const { return settings.systems.count(system) > 0; }
    double gstMinusGps(double t) const { return gstMinusGpsA0 + gstMinusGpsA1 * (t - gstMinusGpsReference); }

    Impl(const GeneratorSettings& s, GeneratorLog l)
        : settings(s),
          log(std::move(l)),
          noise(s.seed, s.format.isScenarioFormat() ? scenarioNoiseSigma : formatNoiseSigma),
          centerHz(centerHzOf(s.format, s.systems))
    {
    }

    int blockSamples() const { return settings.format.rateKHz; }
    int sampleRate() const { return settings.format.rateKHz * 1000; }

    Ecef receiverAt(double secondsAfterStart) const
    {
        if (settings.live) return settings.live->positionAt(secondsAfterStart);
        if (settings.staticPosition) return geodeticToEcef(settings.latitude, settings.longitude, settings.altitude);
        return path->positionAt(secondsAfterStart);
    }

    // Signal delay of a satellite received at t (seconds since the base week began): the
    // light time to the satellite at transmission less its clock offset then, plus the
    // atmosphere's delays at the receiver's place (when a model is on and place is given).
    // With broadcast ephemerides the signal follows the set the message has delivered.
    // A Galileo satellite keeps Galileo System Time: its clock runs ahead of GPS time by
    // its offset to GST plus GST's to GPS time (the offset word 10 broadcasts).
    ChannelDelay delayAt(const Channel& channel, double t, const Ecef& receiver, const atmosphere::Place* place,
                         Ecef* satellitePosition = nullptr) const
    {
        const std::optional<sky::Signal> signal =
            channel.validFrames.empty()
                ? skyModel->signalAt(channel.satellite, t, receiver)
                : sky::signalFrom([&](double transmit) { return &channel.navigation->signalEphemerisAt(transmit); },
                                  skyModel->baseWeek(), t, receiver);
        if (!signal) throw Error(fmt::format("{} has no valid ephemeris at {} s into the week", label(channel), t));
        if (satellitePosition) *satellitePosition = signal->position;
        double delay = signal->travel - signal->clockOffset;
        if (channel.system == sky::GnssSystem::galileo) delay -= gstMinusGps(t - signal->travel);
        if (channel.system == sky::GnssSystem::glonass) delay -= glonassMinusGps;
        if (!place || !atmosphereModel.any()) return {delay, delay};
        const atmosphere::PathDelay extra =
            atmosphereModel.delays(*place, signal->position, t, static_cast<double>(channel.carrierHz));
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
    static std::string label(const Channel& channel)
    {
        return channel.system == sky::GnssSystem::gps ? fmt::format("PRN {}", channel.prn)
                                                      : satelliteName(channel.system, channel.prn);
    }

    bool validFor(const Channel& channel, double t) const
    {
        // A Galileo, BeiDou or GLONASS satellite: a valid healthy record over the second (the place
        // does not matter).
        if (channel.system != sky::GnssSystem::gps)
            return skyModel->signalAt(channel.satellite, t, Ecef{}).has_value() &&
                   skyModel->signalAt(channel.satellite, t + 1.2, Ecef{}).has_value();
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
        return sky::carrierToNoise(elevationDegrees, {settings.zenithCn0, settings.noiseFigureDb});
    }

    // The carrier amplitude, in noise units, that gives C/N0 cn0 (dB-Hz). A real carrier
    // of amplitude A in noise of variance sigma^2 over fs / 2: C/N0 = (A^2 / 2) /
    // (sigma^2 / (fs / 2)); a complex one in complex noise of variance sigma^2 per part
    // over fs: C/N0 = A^2 / (2 sigma^2 / fs).
    double amplitudeFor(double cn0) const
    {
        const double perHertz = (settings.format.complex ? 2 : 4) * std::pow(10.0, cn0 / 10) / sampleRate();
        return noise.sigma() * std::sqrt(perHertz);
    }

    // Galileo E1 arrives 1.5 dB stronger than GPS L1 C/A (at least -157 dBW against
    // -158.5 dBW), split evenly between E1-B and E1-C: each 1.5 dB below the C/A code.
    static constexpr double galileoTotalDb = 1.5;
    static constexpr double galileoComponentDb = galileoTotalDb - 3.0103;
    // GLONASS L1 C/A arrives at least at -161 dBW: 2.5 dB below GPS L1 C/A.
    static constexpr double glonassDb = -2.5;

    // BeiDou B1I arrives at least at -163 dBW, 4.5 dB below the C/A code's -158.5 dBW.
    static constexpr double beidouDb = -4.5;

    double cn0Of(const Channel& channel, double elevation) const
    {
        return cn0For(elevation) + (channel.system == sky::GnssSystem::galileo   ? galileoTotalDb
                                    : channel.system == sky::GnssSystem::beidou  ? beidouDb
                                    : channel.system == sky::GnssSystem::glonass ? glonassDb
                                                                                 : 0);
    }

    void setStrength(Channel& channel, double elevation)
    {
        const double cn0 = cn0For(elevation) + (channel.system == sky::GnssSystem::galileo   ? galileoComponentDb
                                                : channel.system == sky::GnssSystem::beidou  ? beidouDb
                                                : channel.system == sky::GnssSystem::glonass ? glonassDb
                                                                                             : 0);
        channel.amplitude = amplitudeFor(cn0);
        channel.wave.set(channel.amplitude, settings.format.complex);
    }

    double secondsOfWeek(double secondsAfterStart) const { return settings.startSeconds + secondsAfterStart; }

    // Once a second: satellites below the mask leave, the highest new ones above it
    // join while channels are free.
    void updateVisibility(double secondsAfterStart, bool first)
    {
        const Ecef receiver = receiverAt(secondsAfterStart);
        const auto place = placeOf(receiver);
        const sky::ReceiverFrame frame = sky::receiverFrame(receiver);
        const double t = secondsOfWeek(secondsAfterStart);
        std::vector<std::pair<double, Channel*>> candidates;
        std::map<sky::GnssSystem, int> activeCount;  // Max_Satellites holds for each system
        for (Channel& channel : channels) {
            if (!validFor(channel, t)) {
                if (channel.active && log)
                    log(fmt::format("{} leaves at {} s: no valid ephemeris", label(channel), secondsAfterStart));
                channel.active = false;
                continue;
            }
            Ecef satellite;
            delayAt(channel, t, receiver, nullptr, &satellite);
            const double elevation = sky::elevationDegrees(frame, satellite);
            if (channel.active) {
                if (elevation < settings.maskDegrees) {
                    channel.active = false;
                    if (log) log(fmt::format("{} sets below the mask at {} s", label(channel), secondsAfterStart));
                } else {
                    setStrength(channel, elevation);
                    ++activeCount[channel.system];
                }
            } else if (elevation >= settings.maskDegrees) {
                candidates.emplace_back(elevation, &channel);
            }
        }
        std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [elevation, channel] : candidates) {
            if (activeCount[channel->system] >= settings.maxSatellites) continue;
            channel->active = true;
            ++activeCount[channel->system];
            setStrength(*channel, elevation);
            channel->delayAtBlockStart = delayAt(*channel, t, receiver, place ? &*place : nullptr);
            if (first)
                initial.push_back({channel->prn, elevation, cn0Of(*channel, elevation), channel->system});
            else if (log)
                log(fmt::format("{} rises above the mask at {} s", label(*channel), secondsAfterStart));
        }
        if (first)
            std::sort(initial.begin(), initial.end(), [](const auto& a, const auto& b) {
                return std::pair(a.system, a.prn) < std::pair(b.system, b.prn);
            });
    }

    // The receiver's heading (degrees from north) from its motion over the half second
    // before `secondsAfterStart` (after it at the start), or nothing when it stands.
    std::optional<double> headingAt(double secondsAfterStart, const sky::ReceiverFrame& frame) const
    {
        const double from = std::max(0.0, secondsAfterStart - 0.5);
        const Ecef a = receiverAt(from), b = receiverAt(from + 0.5);
        const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        const double east = frame.eastX * dx + frame.eastY * dy;
        const double north = frame.northX * dx + frame.northY * dy + frame.northZ * dz;
        if (std::hypot(east, north) < 0.01) return std::nullopt;  // under 2 cm/s
        const double heading = std::atan2(east, north) * 180 / 3.14159265358979323846;
        return heading < 0 ? heading + 360 : heading;
    }

    // Once a second, after updateVisibility: what the street lets through of each
    // active satellite, from the receiver's place and heading then and the satellite's
    // azimuth and elevation as the sky gives them to the NMEA writers (its signal at the
    // whole second, two passes of the light time). Changes are logged.
    void updateStreet(long long second)
    {
        if (!street) return;
        const double secondsAfterStart = static_cast<double>(second);
        const Ecef receiver = receiverAt(secondsAfterStart);
        const sky::ReceiverFrame frame = sky::receiverFrame(receiver);
        GeoState geo;
        ECEFToLatLong(geo, receiver.x, receiver.y, receiver.z);
        const street::Place place =
            street->place(static_cast<double>(geo.geoLatitude), static_cast<double>(geo.geoLongitude),
                          headingAt(secondsAfterStart, frame));
        if (place.covered != covered && log)
            log(place.covered ? fmt::format("under cover from {} s: every satellite silent", second)
                              : fmt::format("out from under cover at {} s", second));
        covered = place.covered;
        const double t = secondsOfWeek(secondsAfterStart);
        std::vector<sky::SatellitePosition> positions;
        for (const Channel& channel : channels)
            if (channel.active)
                if (const auto signal = skyModel->signalAt(channel.satellite, t, receiver, 2))
                    positions.push_back({channel.system, channel.prn, signal->position});
        // Every active satellite, whatever its elevation; none chosen in use.
        const sky::SkyView view = sky::viewOf(positions, frame, -90, 0, {});
        const std::vector<street::SatelliteInStreet> receptions = street::receptionsOf(*street, place, view);
        for (Channel& channel : channels) {
            if (!channel.active) {
                channel.streetSaid.reset();
                continue;
            }
            channel.inStreet = {};
            for (std::size_t k = 0; k < view.satellites.size(); ++k)
                if (view.satellites[k].system == channel.system && view.satellites[k].prn == channel.prn)
                    channel.inStreet = receptions[k];
            if (covered) continue;
            const street::SatelliteInStreet& in = channel.inStreet;
            const std::pair<street::Reception, std::int64_t> now{
                in.reception, in.reflection ? static_cast<std::int64_t>(in.reflection->wall) : -1};
            const auto before =
                channel.streetSaid.value_or(std::pair<street::Reception, std::int64_t>{street::Reception::clear, -1});
            channel.streetSaid = now;
            if (now == before || !log) continue;
            const std::string name = label(channel);
            switch (in.reception) {
                case street::Reception::blocked:
                    log(fmt::format("{} blocked from {} s", name, second));
                    break;
                case street::Reception::reflected:
                    log(fmt::format("{} reflected from {} s, {:.1f} m late, -{:g} dB", name, second,
                                    in.reflection->extraPath, in.reflection->lossDb));
                    break;
                case street::Reception::clear:
                    if (in.reflection)
                        log(fmt::format("{} clear with an echo from {} s, {:.1f} m late, -{:g} dB", name, second,
                                        in.reflection->extraPath, in.reflection->lossDb));
                    else
                        log(fmt::format("{} clear from {} s", name, second));
                    break;
            }
        }
    }

    // The satellites of a RINEX navigation file: each broadcasts, frame by frame, the set
    // the sky model holds in force at the frame's start, and is left out while it has
    // none; the almanac pages are made from the sets in force at the start.
    void setUpFromEphemerides()
    {
        const std::string source = settings.ephemerisFile.string();
        const RinexNavigation navigation = readRinexNavigation(settings.ephemerisFile, settings.systems);
        skyModel = sky::SkyModel::fromRinex(navigation, source);
        sky::SkyModel& sky = *skyModel;
        sky.anchor(settings.week, settings.startSeconds);
        for (const std::string& line : navigation.skipped) notes.push_back(fmt::format("'{}': {}", source, line));
        try {
            // Galileo alone: its records' validity decides, satellite by satellite.
            if (carries(sky::GnssSystem::gps)) sky.checkCovers(settings.startSeconds);
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
        if (records.empty() && carries(sky::GnssSystem::gps))
            throw Error(fmt::format("the start (GPS_Week {}, GPS_Start_Time_in_sec {}) finds no healthy set in '{}'",
                                    settings.week, settings.startSeconds, source));
        if (carries(sky::GnssSystem::galileo)) setUpGalileo(navigation, utc);
        if (carries(sky::GnssSystem::beidou)) setUpBeidou(navigation, utc);
        if (carries(sky::GnssSystem::glonass)) setUpGlonass(navigation, utc);
        for (std::size_t i = 0; i < sky.size(); ++i) {
            if (sky.system(i) != sky::GnssSystem::gps || !carries(sky::GnssSystem::gps)) continue;
            Channel channel;
            channel.prn = sky.prn(i);
            channel.satellite = i;
            channel.code = std::make_unique<sampling::CodeTables>(channel.prn);
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
        if (channels.empty() && !carries(sky::GnssSystem::gps))
            throw Error(fmt::format("'{}' holds no satellite of Systems = {} with a valid set during the run", source,
                                    signalSystemsText(settings.systems)));
    }

    // The Galileo satellites of the file: each sends on E1-B the I/NAV records the sky
    // model follows (a set from the first subframe after the model takes it up), and the
    // almanac of every Galileo satellite with a set at the start. GST runs ahead of GPS
    // time by the file's GPS-Galileo offset.
    void setUpGalileo(const RinexNavigation& navigation, const gps::UtcParameters& utc)
    {
        const std::string source = settings.ephemerisFile.string();
        sky::SkyModel& sky = *skyModel;
        galileo::InavCommon common = galileo::inavCommonOf(navigation, settings.week, settings.startSeconds, utc);
        gstMinusGpsA0 = common.ggtoA0 * gps::twoToThe(-35);
        gstMinusGpsA1 = common.ggtoA1 * gps::twoToThe(-51);
        gstMinusGpsReference = static_cast<double>(common.ggtoReferenceWeek - settings.week) * gps::secondsPerWeek +
                               common.ggtoReferenceTime;
        std::vector<galileo::InavSchedule> schedules;
        std::vector<galileo::InavAlmanac> almanac;
        for (std::size_t i = 0; i < sky.size(); ++i) {
            if (sky.system(i) != sky::GnssSystem::galileo) continue;
            schedules.push_back(galileo::inavSchedule(navigation.galileo, sky.prn(i), settings.week));
            const galileo::InavSchedule& schedule = schedules.back();
            if (!schedule.sets.empty())
                almanac.push_back(galileo::inavAlmanacOf(schedule.setAt(settings.startSeconds), common.almanacWeek,
                                                         common.almanacReferenceTime));
        }
        std::size_t next = 0;
        for (std::size_t i = 0; i < sky.size(); ++i) {
            if (sky.system(i) != sky::GnssSystem::galileo) continue;
            galileo::InavSchedule& schedule = schedules[next++];
            Channel channel;
            channel.system = sky::GnssSystem::galileo;
            channel.prn = sky.prn(i);
            channel.satellite = i;
            if (schedule.sets.empty() || channel.prn > galileo::e1PrnCount) {
                notes.push_back(fmt::format("{} has no I/NAV record for E1 in '{}': left out",
                                            satelliteName(channel.system, channel.prn), source));
                continue;
            }
            channel.code = std::make_unique<sampling::CodeTables>(
                sampling::withBocSubcarrier(galileo::e1bCode(channel.prn), false));
            channel.pilot = std::make_unique<sampling::CodeTables>(
                sampling::withBocSubcarrier(galileo::e1cCode(channel.prn), true));
            channel.inav = std::make_unique<galileo::InavMessage>(
                std::move(schedule.sets), std::move(schedule.broadcastFrom), almanac, common, settings.week);
            noteGaps(channel);
            channels.push_back(std::move(channel));
        }
        if (std::none_of(channels.begin(), channels.end(),
                         [](const Channel& c) { return c.system == sky::GnssSystem::galileo; }))
            notes.push_back(fmt::format("'{}' holds no Galileo satellite with an I/NAV record for E1", source));
    }

    // The GLONASS satellites of the file: each on its own frequency channel (its
    // records'), sending the records the sky model follows (a record from the first
    // frame after the model takes it up) and the almanac of the file's satellites (each
    // from its record nearest the start). GLONASS time is UTC(SU) + 3 h: GPS time less
    // the leap seconds plus 3 h, and beyond that the fraction of a second the file's
    // GPUT and GLUT give, which string 5 broadcasts as tau_c and tau_GPS.
    void setUpGlonass(const RinexNavigation& navigation, const gps::UtcParameters& utc)
    {
        const std::string source = settings.ephemerisFile.string();
        sky::SkyModel& sky = *skyModel;
        const double start = settings.startSeconds;
        const std::int64_t offsetSeconds =
            static_cast<std::int64_t>(settings.week) * gps::secondsPerWeek - utc.leapSeconds + glonass::moscowOffset;
        glonassOffsetMs = offsetSeconds * 1000;
        const double glonassMinusUtc = sky.systemMinusUtc(sky::GnssSystem::glonass, start);
        glonassMinusGps = glonassMinusUtc - (sky.systemMinusUtc(sky::GnssSystem::gps, start) - utc.leapSeconds);
        const long long startG = static_cast<long long>(std::floor(start)) + offsetSeconds;
        const long long dayStart = floorDiv(startG, 86400) * 86400;
        glonass::TimeData time;
        time.tauC = std::llround(-glonassMinusUtc / gps::twoToThe(-31));
        time.tauGps = std::llround(-glonassMinusGps / gps::twoToThe(-30));
        time.almanacDay = glonass::glonassDate(startG).dayInFourYears;
        std::array<const glonass::Ephemeris*, glonass::almanacSlots> nearest{};
        for (const glonass::Ephemeris& e : navigation.glonass) {
            if (e.slot < 1 || e.slot > glonass::almanacSlots) continue;
            const glonass::Ephemeris*& best = nearest[static_cast<std::size_t>(e.slot - 1)];
            if (!best || std::llabs(glonass::glonassSecondsOf(e) - startG) <
                             std::llabs(glonass::glonassSecondsOf(*best) - startG))
                best = &e;
        }
        std::array<std::optional<glonass::AlmanacEntry>, glonass::almanacSlots> almanac;
        for (std::size_t k = 0; k < nearest.size(); ++k)
            if (nearest[k]) almanac[k] = glonass::almanacOf(*nearest[k], dayStart);
        const glonass::L1Code code = glonass::l1Code();
        for (std::size_t i = 0; i < sky.size(); ++i) {
            if (sky.system(i) != sky::GnssSystem::glonass) continue;
            Channel channel;
            channel.system = sky::GnssSystem::glonass;
            channel.prn = sky.prn(i);
            channel.satellite = i;
            const std::string name = satelliteName(channel.system, channel.prn);
            const std::optional<int> frequencyChannel = sky.glonassChannel(i);
            if (!frequencyChannel) {
                notes.push_back(fmt::format("{} has no frequency channel in '{}': left out", name, source));
                continue;
            }
            glonass::Schedule schedule;
            try {
                schedule = glonass::scheduleOf(navigation.glonass, channel.prn);
            } catch (const Error& e) {
                notes.push_back(fmt::format("{} in '{}': {}: left out", name, source, e.what()));
                continue;
            }
            channel.carrierHz = static_cast<long long>(glonass::l1FrequencyOf(*frequencyChannel));
            channel.code = std::make_unique<sampling::CodeTables>(std::vector<std::uint8_t>(code.begin(), code.end()));
            channel.gnav = std::make_unique<glonass::NavMessage>(std::move(schedule.sets),
                                                                 std::move(schedule.broadcastFrom), almanac, time);
            noteGaps(channel);
            channels.push_back(std::move(channel));
        }
        if (std::none_of(channels.begin(), channels.end(),
                         [](const Channel& c) { return c.system == sky::GnssSystem::glonass; }))
            notes.push_back(fmt::format("'{}' holds no GLONASS satellite with a frequency channel", source));
    }

    // The BeiDou satellites of the file: each sends on B1I the records the sky model
    // follows (a set from the first D1 frame after the model takes it up), D1 from MEO
    // and IGSO satellites, D2 from geostationary ones.
    void setUpBeidou(const RinexNavigation& navigation, const gps::UtcParameters& utc)
    {
        const std::string source = settings.ephemerisFile.string();
        sky::SkyModel& sky = *skyModel;
        const beidou::B1Common common = beidou::b1CommonOf(navigation, settings.week, utc);
        bool any = false;
        for (std::size_t i = 0; i < sky.size(); ++i) {
            if (sky.system(i) != sky::GnssSystem::beidou) continue;
            Channel channel;
            channel.system = sky::GnssSystem::beidou;
            channel.prn = sky.prn(i);
            channel.satellite = i;
            channel.carrierHz = beidou::b1FrequencyHz;
            if (channel.prn < 1 || channel.prn > beidou::b1PrnCount) {
                notes.push_back(fmt::format("{} has no B1I ranging code (C01 to C{:02}): left out",
                                            satelliteName(channel.system, channel.prn), beidou::b1PrnCount));
                continue;
            }
            beidou::B1Schedule schedule = beidou::b1Schedule(navigation.beidou, channel.prn, settings.week);
            if (schedule.sets.empty()) {
                notes.push_back(fmt::format("{} has no healthy record in '{}': left out",
                                            satelliteName(channel.system, channel.prn), source));
                continue;
            }
            const beidou::B1Code code = beidou::b1iCode(channel.prn);
            channel.code = std::make_unique<sampling::CodeTables>(std::vector<std::uint8_t>(code.begin(), code.end()));
            channel.b1 = std::make_unique<beidou::B1Message>(channel.prn, std::move(schedule.sets),
                                                             std::move(schedule.broadcastFrom), common, settings.week);
            noteGaps(channel);
            channels.push_back(std::move(channel));
            any = true;
        }
        if (!any) notes.push_back(fmt::format("'{}' holds no BeiDou satellite with a healthy record", source));
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
                    fmt::format("{} has no valid ephemeris from {} s to {} s after the start: left out then",
                                label(channel), gapStart, valid ? second : settings.durationSeconds));
                gapStart = -1;
            }
        }
    }

    void setUp()
    {
        if (settings.noiseOnly) return;
        street = settings.street;
        if (!street && !settings.buildingsFile.empty()) {
            street::StreetReadSummary summary;
            street = std::make_shared<const street::StreetModel>(street::StreetModel::fromFile(
                settings.buildingsFile, settings.streetRead, settings.streetOptions, &summary));
            for (const std::string& note : summary.notes) notes.push_back(note);
            if (summary.notesDropped > 0)
                notes.push_back(fmt::format("{}: {} more features left out", settings.buildingsFile.string(),
                                            summary.notesDropped));
        }
        if (!settings.staticPosition && !settings.live) path = ReceiverPath::fromNmea(settings.nmeaFile);
        startMs = static_cast<std::int64_t>(std::floor(settings.startSeconds * 1000));
        startFractionMs = settings.startSeconds * 1000 - static_cast<double>(startMs);
        if (!settings.ephemerisFile.empty()) {
            setUpFromEphemerides();
            updateVisibility(0, true);
            return;
        }
        for (const sky::GnssSystem system : settings.systems)
            if (system != sky::GnssSystem::gps)
                throw Error(fmt::format(
                    "Systems = {}: {} needs an Ephemeris_File with its records (the almanac '{}' holds GPS alone)",
                    signalSystemsText(settings.systems), sky::displayName(system), settings.almanacFile.string()));
        if (settings.ionosphere.value_or(false))
            notes.push_back("the ionosphere needs the coefficients of an ephemeris file: left out");
        atmosphereModel.troposphere = settings.troposphere.value_or(false);
        if (settings.almanacFile.empty()) throw Error("no almanac file and no ephemeris file: the satellites need one");
        almanac = readYumaAlmanac(settings.almanacFile);
        almanacWeek = resolveTenBitWeek(almanac.front().week, settings.week);

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
            channel.code = std::make_unique<sampling::CodeTables>(channel.prn);
            channel.navigation = std::make_unique<gps::NavigationMessage>(skyModel->almanacEphemerides(satellite, sets),
                                                                          almanac, almanacWeek, utc, settings.week);
            channels.push_back(std::move(channel));
        }
        if (channels.empty())
            throw Error(fmt::format("the almanac '{}' holds no healthy satellite", settings.almanacFile.string()));
        updateVisibility(0, true);
    }

    // -----------------------------------------------------------------------------
    // Sampling: every block is a function of its number and its second's plan alone,
    // so any worker can make any block and the bytes do not depend on who made them.

    std::shared_ptr<const SecondPlan> planSecond(long long second)
    {
        if (second > 0) updateVisibility(static_cast<double>(second), false);
        updateStreet(second);
        auto plan = std::make_shared<SecondPlan>();
        plan->second = second;
        activeBefore.resize(channels.size(), false);
        for (std::size_t i = 0; i < channels.size(); ++i) {
            const Channel& channel = channels[i];
            const bool wasActive = second > 0 && activeBefore[i];
            activeBefore[i] = channel.active;
            if (!channel.active) continue;
            PlannedChannel planned;
            planned.index = i;
            planned.wave = channel.wave;
            planned.addRun =
                settings.referenceLoops ? sampling::addRunReference : sampling::fastestAddRun(channel.wave);
            planned.addRunPair =
                settings.referenceLoops ? sampling::addRunPairReference : sampling::fastestAddRunPair(channel.wave);
            planned.joined = !wasActive;
            planned.joinDelay = channel.delayAtBlockStart;
            if (!street) {
                plan->channels.push_back(std::move(planned));
                continue;
            }
            // Each copy the street lets through follows the channel's delays, later by its
            // extra path; a channel with none is followed silently.
            const std::vector<SignalCopy> copies = signalCopies(channel.inStreet, covered);
            if (copies.empty()) {
                planned.silent = true;
                plan->channels.push_back(std::move(planned));
                continue;
            }
            for (const SignalCopy& copy : copies) {
                PlannedChannel copied = planned;
                copied.extraDelay = copy.delaySeconds;
                if (copy.gain != 1) {
                    copied.wave.set(channel.amplitude * copy.gain, settings.format.complex);
                    copied.addRun =
                        settings.referenceLoops ? sampling::addRunReference : sampling::fastestAddRun(copied.wave);
                    copied.addRunPair = settings.referenceLoops ? sampling::addRunPairReference
                                                                : sampling::fastestAddRunPair(copied.wave);
                }
                plan->channels.push_back(std::move(copied));
            }
        }
        return plan;
    }

    WorkerState makeWorkerState() const
    {
        WorkerState w;
        const auto size = static_cast<std::size_t>(chunkBlocks * blockSamples());
        w.inPhase.resize(size);
        if (settings.format.complex) w.quadrature.resize(size);
        w.subframes.resize(channels.size());
        w.pageParts.resize(channels.size());
        w.carried.resize(channels.size());
        return w;
    }

    // NavigationMessage::bit keeps its subframe cache in the message; each worker keeps
    // its own here, so that the workers share the messages without a lock.
    static unsigned dataBit(const gps::NavigationMessage& navigation, WorkerState::Subframe& cache,
                            std::int64_t bitIndex)
    {
        std::int64_t index = bitIndex / 300;
        if (bitIndex < 0 && bitIndex % 300 != 0) --index;
        if (index != cache.index) {
            cache.words = navigation.subframe(index);
            cache.index = index;
        }
        const auto position = static_cast<int>(bitIndex - index * 300);
        return (cache.words[static_cast<std::size_t>(position / 30)] >> (29 - position % 30)) & 1u;
    }

    // The 10-ms chip of a GLONASS string (data halves, then the time mark) at a
    // millisecond of GLONASS time; each worker keeps the string's 200 chips in its cache.
    static unsigned glonassChip(const glonass::NavMessage& message, WorkerState::Subframe& cache,
                                std::int64_t glonassMs)
    {
        const std::int64_t chip = floorDiv(glonassMs, 1000 / glonass::chipsPerSecond);
        const std::int64_t string = floorDiv(chip, glonass::chipsPerString);
        if (string != cache.index) {
            const glonass::StringChips chips = glonass::stringChips(message.string(string));
            cache.words.fill(0);
            for (std::size_t k = 0; k < chips.size(); ++k)
                cache.words[k / 32] |= static_cast<std::uint32_t>(chips[k]) << (k % 32);
            cache.index = string;
        }
        const auto k = static_cast<std::size_t>(chip - string * glonass::chipsPerString);
        return (cache.words[k / 32] >> (k % 32)) & 1u;
    }

    unsigned dataBitOfEpoch(const Channel& channel, WorkerState::Subframe& cache, std::int64_t epoch) const
    {
        if (channel.gnav) return glonassChip(*channel.gnav, cache, epoch + glonassOffsetMs);
        if (channel.b1) return beidouBit(*channel.b1, cache, epoch);
        return dataBit(*channel.navigation, cache, epoch >= 0 ? epoch / 20 : (epoch - 19) / 20);
    }

    // The B1I level of the code period starting at `epoch` (milliseconds of the
    // satellite's time, counted as GPS time from the base week's start): the D1 bit with
    // its Neuman-Hoffman chip, or the D2 bit; BDT runs 14 s behind.
    static unsigned beidouBit(const beidou::B1Message& message, WorkerState::Subframe& cache, std::int64_t epoch)
    {
        const std::int64_t bdtMs = epoch - static_cast<std::int64_t>(beidou::gpsMinusBdt) * 1000;
        const std::int64_t bit = floorDiv(bdtMs, message.bitMilliseconds());
        const std::int64_t index = floorDiv(bit, beidou::subframeBits);
        if (index != cache.index) {
            cache.words = message.subframe(index);
            cache.index = index;
        }
        const auto position = static_cast<int>(bit - index * beidou::subframeBits);
        unsigned value = (cache.words[static_cast<std::size_t>(position / 30)] >> (29 - position % 30)) & 1u;
        if (!message.d2())
            value ^= beidou::neumanHoffmanCode[static_cast<std::size_t>(bdtMs - floorDiv(bdtMs, 20) * 20)];
        return value;
    }

    // The E1-B symbol of a 4-ms Galileo code period (250 a second from the base week's
    // start), each worker caching its own page part.
    static unsigned galileoSymbol(const Channel& channel, WorkerState::PagePart& cache, std::int64_t period)
    {
        const std::int64_t part = floorDiv(period, galileo::pagePartSymbols);
        if (part != cache.index) {
            cache.symbols = channel.inav->pagePart(part);
            cache.index = part;
        }
        return cache.symbols[static_cast<std::size_t>(period - part * galileo::pagePartSymbols)];
    }

    static std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

    // One Galileo channel's block: E1-B (the symbol) and E1-C (the secondary code chip)
    // from the same phase, BOC(1,1) in 8184 half-chips of 4 ms.
    void addGalileoBlock(const PlannedChannel& planned, const Channel& channel, WorkerState& w, double fractionMs,
                         std::int64_t ms, double change, std::uint32_t carrier, std::uint32_t carrierStep,
                         std::int16_t* inPhase, std::int16_t* quadrature) const
    {
        const int n = blockSamples();
        constexpr int halfChips = 2 * galileo::e1CodeLength;
        constexpr double halfChipsPerMs = halfChips / 4.0;
        std::int64_t period = floorDiv(ms, 4);
        constexpr double fixedOne = 4294967296.0;
        sampling::RunPhase phase;
        phase.code =
            static_cast<std::uint64_t>((static_cast<double>(ms - period * 4) + fractionMs) * halfChipsPerMs * fixedOne);
        phase.codeStep = static_cast<std::uint64_t>(std::llround(halfChipsPerMs * (1 - change * 1000) / n * fixedOne));
        constexpr std::uint64_t codeWrap = static_cast<std::uint64_t>(halfChips) << 32;
        if (phase.code >= codeWrap) phase.code = codeWrap - 1;
        phase.carrier = carrier;
        phase.carrierStep = carrierStep;
        WorkerState::PagePart& cache = w.pageParts[planned.index];
        const auto secondaryChip = [](std::int64_t p) {
            return galileo::e1cSecondaryCode[static_cast<std::size_t>(p - floorDiv(p, galileo::secondaryCodeLength) *
                                                                              galileo::secondaryCodeLength)];
        };
        unsigned symbol = galileoSymbol(channel, cache, period);
        unsigned secondary = secondaryChip(period);
        int i = 0;
        while (i < n) {
            const std::uint64_t left = (codeWrap - phase.code + phase.codeStep - 1) / phase.codeStep;
            const int count = static_cast<int>(std::min<std::uint64_t>(left, static_cast<std::uint64_t>(n - i)));
            planned.addRunPair(*channel.code, *channel.pilot, planned.wave, phase, symbol, secondary, inPhase + i,
                               quadrature ? quadrature + i : nullptr, count);
            i += count;
            if (phase.code >= codeWrap) {
                phase.code -= codeWrap;
                ++period;
                symbol = galileoSymbol(channel, cache, period);
                secondary = secondaryChip(period);
            }
        }
    }

    // Blocks firstBlock .. firstBlock + blocks - 1 of the recording (all in the plan's
    // second) into w's sums.
    void sumChunk(const SecondPlan& plan, std::int64_t firstBlock, int blocks, WorkerState& w) const
    {
        const int n = blockSamples();
        const bool complex = settings.format.complex;
        const auto drawsPerPart = static_cast<std::uint64_t>((n + 3) / 4);
        const std::uint64_t drawsPerBlock = drawsPerPart * (complex ? 2 : 1);

        // Each channel's delay at the chunk's start: as the block before it ended, or as
        // the channel joined.
        w.delays.assign(plan.channels.size(), ChannelDelay{});
        const double before = static_cast<double>(firstBlock - 1) / 1000 + 0.001;
        const bool carry = settings.referenceLoops && w.carriedTo == firstBlock;
        // The vector loops compute a channel's delays once for its echo too, and none for
        // a silent channel (each chunk starts from delays of its own); the plain loops
        // follow every copy on its own, carried through the recording: the reference.
        const bool shareDelays = !settings.referenceLoops;
        std::optional<Ecef> receiverBefore;
        std::optional<atmosphere::Place> placeBefore;
        for (std::size_t c = 0; c < plan.channels.size(); ++c) {
            const PlannedChannel& planned = plan.channels[c];
            if (shareDelays && planned.silent) continue;
            if (shareDelays && c > 0 && plan.channels[c - 1].index == planned.index) {
                w.delays[c] = w.delays[c - 1];
            } else if (planned.joined && firstBlock == plan.second * 1000) {
                w.delays[c] = planned.joinDelay;
            } else if (carry) {
                w.delays[c] = w.carried[planned.index];
            } else {
                if (!receiverBefore) {
                    receiverBefore = receiverAt(before);
                    placeBefore = placeOf(*receiverBefore);
                }
                w.delays[c] = delayAt(channels[planned.index], secondsOfWeek(before), *receiverBefore,
                                      placeBefore ? &*placeBefore : nullptr);
            }
        }

        // Each channel lies at the IF plus its carrier's distance from the centre.
        const std::int64_t fs = sampleRate();
        w.carriers.resize(plan.channels.size());
        for (std::size_t c = 0; c < plan.channels.size(); ++c) {
            const Channel& channel = channels[plan.channels[c].index];
            const long long ifHz = settings.format.intermediateFrequencyHz + channel.carrierHz - centerHz;
            w.carriers[c] = {((ifHz % fs) + fs) % fs, static_cast<double>(ifHz) / static_cast<double>(fs),
                             static_cast<double>(channel.carrierHz)};
        }
        for (int b = 0; b < blocks; ++b) {
            const std::int64_t k = firstBlock + b;
            std::int16_t* inPhase = w.inPhase.data() + static_cast<std::ptrdiff_t>(b) * n;
            std::int16_t* quadrature = complex ? w.quadrature.data() + static_cast<std::ptrdiff_t>(b) * n : nullptr;
            noise.fill(inPhase, n, static_cast<std::uint64_t>(k) * drawsPerBlock);
            if (complex) noise.fill(quadrature, n, static_cast<std::uint64_t>(k) * drawsPerBlock + drawsPerPart);

            const double secondsAfterStart = static_cast<double>(k) / 1000;
            const double tEnd = secondsOfWeek(secondsAfterStart + 0.001);
            // The receiver at the block's end, found when a channel first needs it.
            std::optional<Ecef> receiverEnd;
            std::optional<atmosphere::Place> placeEnd;
            const std::int64_t sampleInSecond = (k % 1000) * n;

            // The delays at the block's end, computed once for a channel and its echo.
            ChannelDelay end;
            std::size_t endOf = channels.size();
            for (std::size_t c = 0; c < plan.channels.size(); ++c) {
                const PlannedChannel& planned = plan.channels[c];
                const Channel& channel = channels[planned.index];
                // The channel's nominal phase at the block's first sample, exactly.
                const WorkerState::Carrier& nominal = w.carriers[c];
                const std::int64_t ifNumerator = (nominal.modulo * sampleInSecond) % fs;
                const std::uint32_t ifPhase = static_cast<std::uint32_t>(
                    (static_cast<std::uint64_t>(ifNumerator) << 32) / static_cast<std::uint64_t>(fs));
                const double ifStep = nominal.step;
                if (shareDelays && planned.silent) continue;
                if (!shareDelays || endOf != planned.index) {
                    if (!receiverEnd) {
                        receiverEnd = receiverAt(secondsAfterStart + 0.001);
                        placeEnd = placeOf(*receiverEnd);
                    }
                    end = delayAt(channel, tEnd, *receiverEnd, placeEnd ? &*placeEnd : nullptr);
                    endOf = planned.index;
                }
                if (planned.silent) {
                    w.delays[c] = end;
                    continue;
                }
                const double change = end.code - w.delays[c].code;
                const double carrierChange = end.carrier - w.delays[c].carrier;
                // A reflection or an echo: the whole signal later by its extra path.
                const double delayStart = w.delays[c].code + planned.extraDelay;
                const double carrierDelayStart = w.delays[c].carrier + planned.extraDelay;
                w.delays[c] = end;

                // Satellite time of the first sample, in milliseconds: code epoch and chip.
                const double fractionMs = startFractionMs - delayStart * 1000;
                const double wholeMs = std::floor(fractionMs);
                std::int64_t epoch = startMs + k + static_cast<std::int64_t>(wholeMs);
                if (channel.system == sky::GnssSystem::galileo) {
                    const double delayCycles = nominal.frequency * carrierDelayStart;
                    const double carrierStart = -(delayCycles - std::floor(delayCycles));
                    const std::uint32_t carrier = ifPhase + static_cast<std::uint32_t>(static_cast<std::int64_t>(
                                                                std::llround((carrierStart + 1) * 4294967296.0)));
                    const double cycleStep = ifStep - nominal.frequency * carrierChange / n;
                    const auto carrierStep =
                        static_cast<std::uint32_t>(static_cast<std::int64_t>(std::llround(cycleStep * 4294967296.0)));
                    addGalileoBlock(planned, channel, w, fractionMs - wholeMs, epoch, change, carrier, carrierStep,
                                    inPhase, quadrature);
                    continue;
                }
                // One code period a millisecond: GPS 1023 chips, BeiDou 2046, GLONASS 511.
                const int chips = channel.code->length();
                const double chipPhase = (fractionMs - wholeMs) * chips;
                const double chipStep = chips * (1 - change * 1000) / n;
                constexpr double fixedOne = 4294967296.0;
                sampling::RunPhase phase;
                phase.code = static_cast<std::uint64_t>(chipPhase * fixedOne);
                phase.codeStep = static_cast<std::uint64_t>(std::llround(chipStep * fixedOne));
                const std::uint64_t codeWrap = static_cast<std::uint64_t>(chips) << 32;
                if (phase.code >= codeWrap) phase.code = codeWrap - 1;

                // Carrier: the intermediate frequency less the phase the delay takes away.
                const double delayCycles = nominal.frequency * carrierDelayStart;
                const double carrierStart = -(delayCycles - std::floor(delayCycles));
                phase.carrier = ifPhase + static_cast<std::uint32_t>(
                                              static_cast<std::int64_t>(std::llround((carrierStart + 1) * fixedOne)));
                const double cycleStep = ifStep - nominal.frequency * carrierChange / n;
                phase.carrierStep =
                    static_cast<std::uint32_t>(static_cast<std::int64_t>(std::llround(cycleStep * fixedOne)));

                WorkerState::Subframe& subframe = w.subframes[planned.index];
                unsigned bit = dataBitOfEpoch(channel, subframe, epoch);
                int i = 0;
                while (i < n) {
                    // Samples up to the next code epoch, where the data bit may change.
                    const std::uint64_t left = (codeWrap - phase.code + phase.codeStep - 1) / phase.codeStep;
                    const int count =
                        static_cast<int>(std::min<std::uint64_t>(left, static_cast<std::uint64_t>(n - i)));
                    planned.addRun(*channel.code, planned.wave, phase, bit, inPhase + i,
                                   quadrature ? quadrature + i : nullptr, count);
                    i += count;
                    if (phase.code >= codeWrap) {
                        phase.code -= codeWrap;
                        ++epoch;
                        bit = dataBitOfEpoch(channel, subframe, epoch);
                    }
                }
            }
        }
        for (std::size_t c = 0; c < plan.channels.size(); ++c) w.carried[plan.channels[c].index] = w.delays[c];
        w.carriedTo = firstBlock + blocks;
    }

    // The gain (in 1/4096) that puts the noise and the strongest possible signals at
    // 1/4.2 of the sample range: Gaussian samples then clip at a rate of 3e-5.
    std::int32_t sampleGain() const
    {
        const double amplitude = amplitudeFor(settings.zenithCn0 - settings.noiseFigureDb);
        const double satellites = std::max(settings.maxSatellites, 0);
        double power = carries(sky::GnssSystem::gps) ? satellites * amplitude * amplitude / 2 : 0;
        if (carries(sky::GnssSystem::beidou)) {
            const double b1 = amplitudeFor(settings.zenithCn0 - settings.noiseFigureDb + beidouDb);
            power += satellites * b1 * b1 / 2;
        }
        if (carries(sky::GnssSystem::galileo)) {
            const double component = amplitudeFor(settings.zenithCn0 - settings.noiseFigureDb + galileoComponentDb);
            power += satellites * 2 * component * component / 2;
        }
        if (carries(sky::GnssSystem::glonass)) {
            const double glonassAmplitude = amplitudeFor(settings.zenithCn0 - settings.noiseFigureDb + glonassDb);
            power += satellites * glonassAmplitude * glonassAmplitude / 2;
        }
        // With a street every satellite may come with an echo besides.
        if (street) power *= 1 + std::pow(10.0, -street->options().reflectionLossDb / 10);
        const double sigma = std::sqrt(noise.sigma() * noise.sigma() + power);
        const double range = settings.format.bitsPerSample == 8 ? 127.5 : 32767.5;
        return static_cast<std::int32_t>(std::clamp(std::lround(range / 4.2 / sigma * 4096), 1L, 65535L));
    }

    std::size_t chunkBytes() const
    {
        return static_cast<std::size_t>(settings.format.bytesPerMillisecond() * chunkBlocks);
    }

    void makeChunk(const SecondPlan& plan, std::int64_t firstBlock, WorkerState& w, std::uint8_t* out) const
    {
        sumChunk(plan, firstBlock, chunkBlocks, w);
        const int count = chunkBlocks * blockSamples();
        if (settings.format.bitsPerSample == 1)
            sampling::packOneBit(w.inPhase.data(), count, out);
        else
            (settings.referenceLoops ? sampling::packSamplesReference : sampling::packSamples)(
                w.inPhase.data(), settings.format.complex ? w.quadrature.data() : nullptr, count,
                settings.format.bitsPerSample, gain, out);
    }

    int workerCount() const
    {
        if (settings.threads > 0) return settings.threads;
        return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    }

    bool runNoise(const SampleSink& sink) const
    {
        const std::size_t second = settings.format.bytesPerSecond();
        const std::size_t pieceBytes = second / piecesPerSecond;
        std::vector<std::uint8_t> piece(pieceBytes);
        NoiseBytes noiseBytes;
        for (long long s = 0; s < settings.durationSeconds; ++s)
            for (int p = 0; p < piecesPerSecond; ++p) {
                noiseBytes.fill(piece.data(), pieceBytes, static_cast<std::uint64_t>(s), pieceBytes * p);
                if (!sink(piece.data(), pieceBytes, static_cast<double>(s) + (p + 1.0) / piecesPerSecond)) return false;
            }
        return true;
    }

    bool run(const SampleSink& sink);
};

namespace {

// Pieces in flight between the planner, the workers and the sink.
struct Piece {
    std::shared_ptr<const SecondPlan> plan;
    long long index = 0;
    std::vector<std::uint8_t> bytes;
    int chunksLeft = 0;
};

}  // namespace

bool SignalGenerator::Impl::run(const SampleSink& sink)
{
    if (settings.noiseOnly) return runNoise(sink);
    gain = sampleGain();
    const long long pieces = settings.durationSeconds * piecesPerSecond;
    const std::size_t chunk = chunkBytes();
    const std::size_t pieceBytes = chunk * pieceChunks;
    const auto signalEnd = [](long long piece) { return static_cast<double>(piece + 1) / piecesPerSecond; };
    const int threads = workerCount();

    if (threads <= 1) {
        WorkerState w = makeWorkerState();
        std::vector<std::uint8_t> bytes(pieceBytes);
        std::shared_ptr<const SecondPlan> plan;
        for (long long p = 0; p < pieces; ++p) {
            if (settings.live) settings.live->commitUntil(signalEnd(p));
            if (p % piecesPerSecond == 0) plan = planSecond(p / piecesPerSecond);
            for (int c = 0; c < pieceChunks; ++c)
                makeChunk(*plan, p * pieceBlocks + c * chunkBlocks, w, bytes.data() + chunk * c);
            if (!sink(bytes.data(), pieceBytes, signalEnd(p))) return false;
        }
        return true;
    }

    std::mutex mutex;
    std::condition_variable workAvailable, pieceFinished;
    std::deque<std::pair<Piece*, int>> tasks;
    bool stopping = false;
    std::exception_ptr failure;
    const auto work = [&]() {
        WorkerState w = makeWorkerState();
        std::unique_lock lock(mutex);
        for (;;) {
            workAvailable.wait(lock, [&] { return stopping || !tasks.empty(); });
            if (stopping) return;
            const auto [piece, index] = tasks.front();
            tasks.pop_front();
            lock.unlock();
            try {
                makeChunk(*piece->plan, piece->index * pieceBlocks + index * chunkBlocks, w,
                          piece->bytes.data() + chunk * static_cast<std::size_t>(index));
            } catch (...) {
                lock.lock();
                if (!failure) failure = std::current_exception();
                stopping = true;
                workAvailable.notify_all();
                pieceFinished.notify_all();
                return;
            }
            lock.lock();
            if (--piece->chunksLeft == 0) pieceFinished.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) workers.emplace_back(work);

    // Enough pieces in flight that no worker waits for the sink, few enough that memory
    // stays small.
    const std::size_t slots = 2 * static_cast<std::size_t>(threads) + 2;
    std::deque<std::unique_ptr<Piece>> inFlight;
    std::vector<std::unique_ptr<Piece>> spare;
    std::shared_ptr<const SecondPlan> plan;
    long long scheduled = 0;
    bool completed = true;
    try {
        for (long long delivered = 0; delivered < pieces; ++delivered) {
            while (scheduled < pieces && inFlight.size() < slots) {
                if (settings.live) settings.live->commitUntil(signalEnd(scheduled));
                if (scheduled % piecesPerSecond == 0) plan = planSecond(scheduled / piecesPerSecond);
                std::unique_ptr<Piece> piece;
                if (spare.empty()) {
                    piece = std::make_unique<Piece>();
                    piece->bytes.resize(pieceBytes);
                } else {
                    piece = std::move(spare.back());
                    spare.pop_back();
                }
                piece->plan = plan;
                piece->index = scheduled++;
                piece->chunksLeft = pieceChunks;
                {
                    const std::lock_guard lock(mutex);
                    for (int c = 0; c < pieceChunks; ++c) tasks.emplace_back(piece.get(), c);
                }
                workAvailable.notify_all();
                inFlight.push_back(std::move(piece));
            }
            Piece& next = *inFlight.front();
            {
                std::unique_lock lock(mutex);
                pieceFinished.wait(lock, [&] { return next.chunksLeft == 0 || failure; });
                if (failure) break;
            }
            if (!sink(next.bytes.data(), pieceBytes, signalEnd(next.index))) {
                completed = false;
                break;
            }
            next.plan.reset();
            spare.push_back(std::move(inFlight.front()));
            inFlight.pop_front();
        }
    } catch (...) {
        const std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
    }
    {
        const std::lock_guard lock(mutex);
        stopping = true;
    }
    workAvailable.notify_all();
    for (std::thread& worker : workers) worker.join();
    if (failure) std::rethrow_exception(failure);
    return completed;
}

SignalGenerator::SignalGenerator(const GeneratorSettings& settings, GeneratorLog log)
{
    checkSampleFormat(settings.format, settings.systems);
    impl_ = std::make_unique<Impl>(settings, std::move(log));
    impl_->setUp();
}

SignalGenerator::~SignalGenerator() = default;

const std::vector<std::string>& SignalGenerator::notes() const
{
    return impl_->notes;
}

const std::vector<GeneratedSatellite>& SignalGenerator::initialSatellites() const
{
    return impl_->initial;
}

bool SignalGenerator::run(const SampleSink& sink)
{
    return impl_->run(sink);
}

}  // namespace trajix
