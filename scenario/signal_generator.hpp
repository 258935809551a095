#pragma once
// The signal generator behind TrajixBinary: the GPS L1 C/A signal of the satellites
// above the mask, as a receiver on the profile's path sees it, written as one-bit real
// samples at 16368 kHz.
//
// Recording layout: sample n is bit (n mod 16) of the 16-bit little-endian word n / 16,
// counted from the least significant bit (bit 1 = sample above zero). One second is one
// block of 2046000 bytes.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scenario/gps_navigation.hpp"
#include "scenario/receiver_path.hpp"

namespace trajix {

inline constexpr int generatorSampleRate = 16368000;  ///< samples per second
inline constexpr int generatorBlockSamples = 16368;   ///< samples per millisecond
inline constexpr std::size_t generatorSecondBytes = 2046000;

/// What the generator makes; read from a scenario profile by readGeneratorProfile.
struct GeneratorSettings {
    std::filesystem::path almanacFile;
    /// A RINEX 2 or 3 navigation file: the satellites broadcast its ephemerides, almanac,
    /// ionosphere and UTC parameters (the almanac file is then not read). Empty: sets
    /// made from the almanac.
    std::filesystem::path ephemerisFile;
    /// The atmosphere's delays; unset: on with an ephemeris file, off without. The
    /// ionosphere needs the coefficients of an ephemeris file.
    std::optional<bool> ionosphere, troposphere;
    std::filesystem::path nmeaFile;                    ///< the receiver's path (unless staticPosition)
    std::filesystem::path output;                      ///< the .dsf recording
    bool staticPosition = false;                       ///< Static=1: stay at latitude/longitude/altitude
    double latitude = 0, longitude = 0, altitude = 0;  ///< degrees, metres above the ellipsoid
    int week = 0;                                      ///< full GPS week of the start
    double startSeconds = 0;                           ///< seconds into that week, the time of the path's first fix
    long long durationSeconds = 5;
    double maskDegrees = 5;
    double noiseFigureDb = 0;
    long long intermediateFrequencyHz = 4092000;
    int maxSatellites = 12;
    double zenithCn0 = 45;   ///< dB-Hz at zenith with a noise figure of 0 dB
    std::uint64_t seed = 1;  ///< of the thermal noise
    bool noiseOnly = false;  ///< deterministic noise only, no satellites
};

/// The full GPS week whose 10-bit number is tenBitWeek, nearest to nearWeek (a week
/// of 1024 or more is taken as full already).
int resolveTenBitWeek(long long tenBitWeek, long long nearWeek);

/// Reads and checks a scenario profile (the keys the scenario step writes, and our own
/// Noise_Only, Noise_Seed, Max_Satellites, Ephemeris_File, Ionosphere and Troposphere). Windows path texts are mapped
/// to files as the scenario step does. Throws Error naming the key, value, line and profile.
GeneratorSettings readGeneratorProfile(const std::filesystem::path& profile);

/// Called once a second of signal is ready; returns false to stop the run.
using SecondSink = std::function<bool(const std::uint8_t* bytes, std::size_t size, long long second)>;
/// Receives the generator's messages (satellites chosen, rising and setting).
using GeneratorLog = std::function<void(const std::string& message)>;

/// One satellite of the recording.
struct GeneratedSatellite {
    int prn = 0;
    double elevationDegrees = 0;  ///< at the start
    double cn0 = 0;               ///< dB-Hz at the start
};

class SignalGenerator {
public:
    /// Reads the almanac and the path, and sets up the channels of the satellites above
    /// the mask at the start. Throws Error for unusable files.
    explicit SignalGenerator(const GeneratorSettings& settings, GeneratorLog log = {});
    ~SignalGenerator();
    SignalGenerator(const SignalGenerator&) = delete;
    SignalGenerator& operator=(const SignalGenerator&) = delete;

    /// The satellites in the recording at its start.
    const std::vector<GeneratedSatellite>& initialSatellites() const;

    /// What the set-up left out or changed and why, one line each (records the
    /// ephemeris reader skipped, satellites without a valid set during the run, a model
    /// switched off).
    const std::vector<std::string>& notes() const;

    /// Writes the samples of the next second (generatorSecondBytes bytes).
    void nextSecond(std::uint8_t* bytes);

    /// Writes every second to sink. Returns false when the sink stopped the run.
    bool run(const SecondSink& sink);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// The deterministic stand-in signal of second `second`: pseudo-random bytes.
void fillNoiseSecond(std::uint8_t* bytes, std::size_t size, std::uint64_t second);

}  // namespace trajix
