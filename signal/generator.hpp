#pragma once
// The signal generator behind TrajixBinary: the GPS L1 C/A signal (and, when the
// profile's Systems name them, the Galileo E1 and BeiDou B1I signals in the same
// stream, each at its carrier's distance from the centre) of the satellites above the
// mask, as a receiver on the profile's path sees it. The scenario step's
// recording is one-bit real samples at 16368 kHz; the profile may also ask for 8 or
// 16-bit samples, real or complex (I/Q), at other rates.
//
// One-bit layout: sample n is bit (n mod 16) of the 16-bit little-endian word n / 16,
// counted from the least significant bit (bit 1 = sample above zero). At 16368 kHz one
// second is one block of 2046000 bytes. 8-bit samples are signed bytes, 16-bit ones
// signed little-endian words; complex samples are I then Q.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "signal/gps_l1ca.hpp"
#include "signal/live_path.hpp"
#include "signal/receiver_path.hpp"
#include "sky/gnss_system.hpp"
#include "street/street_model.hpp"

namespace trajix {

inline constexpr int generatorSampleRate = 16368000;  ///< samples per second
inline constexpr int generatorBlockSamples = 16368;   ///< samples per millisecond
inline constexpr std::size_t generatorSecondBytes = 2046000;

inline constexpr int generatorMaxRateKHz = 100000;  ///< the highest rate made

/// How the samples are written: the profile keys IQ_format, bitPerSample,
/// SampleRate_in_KHz, IFFreq_in_Hz and CenterFreq_in_Hz.
struct SampleFormat {
    bool complex = false;                         ///< IQ_format=IQ: I then Q per sample
    int bitsPerSample = 1;                        ///< 1 (real only), 8 or 16
    int rateKHz = 16368;                          ///< samples per millisecond
    long long intermediateFrequencyHz = 4092000;  ///< where the centre lies in the samples (0: baseband)
    /// CenterFreq_in_Hz: the radio frequency that lies at intermediateFrequencyHz in the
    /// samples; a carrier f lies at intermediateFrequencyHz + f - centre. Unset: chosen
    /// from the systems (defaultCenterHz).
    std::optional<long long> centerHz{};

    /// Bytes of one millisecond of samples (one-bit samples fill whole 16-bit words
    /// over a second, not always over a millisecond: then the mean).
    double bytesPerMillisecond() const;
    /// Bytes of one second of samples.
    std::size_t bytesPerSecond() const;
    /// The scenario step's format: one bit, real, 16368 kHz, 4092000 Hz.
    bool isScenarioFormat() const
    {
        return !complex && bitsPerSample == 1 && rateKHz == 16368 && intermediateFrequencyHz == 4092000;
    }
};

/// The systems whose signals a recording carries.
using SignalSystems = std::set<sky::GnssSystem>;

/// Where one signal lies in the spectrum: its carrier and the half-width of its main
/// lobe (the first nulls of its spectrum either side of the carrier).
struct SignalBand {
    std::string name;  ///< "GPS L1 C/A", "Galileo E1", "BeiDou B1I", "GLONASS L1 channel -7"
    long long carrierHz = 0;
    long long halfWidthHz = 0;
};

/// The bands of the systems' signals: GPS L1 C/A 1575.42 MHz +-1.023 MHz, Galileo E1
/// 1575.42 MHz +-2.046 MHz (BOC(1,1)), BeiDou B1I 1561.098 MHz +-2.046 MHz, GLONASS L1
/// every FDMA channel -7..+6 (1602 MHz + k 562.5 kHz, +-0.511 MHz each).
std::vector<SignalBand> signalBands(const SignalSystems& systems);

/// The centre a recording of these systems gets when the profile names none: GPS and
/// Galileo alone 1575.42 MHz (the scenario step's recordings); GLONASS alone 1602 MHz;
/// any other choice the middle (to the Hz, rounded down) between the lowest and the
/// highest edge of the systems' main lobes, so that the least rate carries them all.
long long defaultCenterHz(const SignalSystems& systems);

/// The centre of a recording: the format's own, else the systems' default.
long long centerHzOf(const SampleFormat& format, const SignalSystems& systems);

/// Refuses a format the generator cannot make: a rate out of range, a bit depth other
/// than 1, 8 or 16, one bit with complex samples, an IF the rate cannot carry (with
/// Galileo E1, whose BOC(1,1) lobes reach 2.046 MHz either side: complex samples at
/// 4092 kHz or more, real ones at 8184 kHz or more), and a centre and rate that cannot
/// hold every band of the systems (checkSignalBands). The message names the profile
/// key and value (and for a rate too low, the least rate that would do).
void checkSampleFormat(const SampleFormat& format, const SignalSystems& systems);
/// The same for GPS, with Galileo when asked.
void checkSampleFormat(const SampleFormat& format, bool galileo = false);

/// Refuses a centre and rate that cannot hold every band's main lobe: complex samples
/// hold -rate/2 .. +rate/2, real ones 0 .. rate/2, each band lying at the format's IF
/// plus its carrier less centerHz. A rate too low is named with the least rate in kHz
/// that would do; an IF or centre that puts a real band below 0 Hz with the IF it needs.
void checkSignalBands(const SampleFormat& format, long long centerHz, const std::vector<SignalBand>& bands);

/// The systems of a comma-separated list of names ("gps", "galileo", "beidou"; blanks around
/// names allowed, each at most once). Throws Error naming the text for an empty list,
/// an unknown name or a system the signal does not carry.
SignalSystems parseSignalSystems(std::string_view list);

/// The list as parseSignalSystems reads it: "gps,galileo".
std::string signalSystemsText(const SignalSystems& systems);

/// What the generator makes; read from a scenario profile by readGeneratorProfile.
struct GeneratorSettings {
    std::filesystem::path almanacFile;  ///< YUMA; may be empty with an ephemeris file
    /// Systems: the signals in the recording. Galileo and BeiDou need an ephemeris file
    /// with their records.
    SignalSystems systems{sky::GnssSystem::gps};
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
    SampleFormat format;
    int maxSatellites = 12;  ///< of each system
    double zenithCn0 = 45;   ///< dB-Hz at zenith with a noise figure of 0 dB
    std::uint64_t seed = 1;  ///< of the thermal noise
    bool noiseOnly = false;  ///< deterministic noise only, no satellites
    int threads = 0;         ///< worker threads; 0: one per processor core
    /// The plain scalar sample loops instead of the vector ones (the same bytes, slower):
    /// the reference the fast loops are tested against.
    bool referenceLoops = false;
    /// Buildings_File: the buildings and tunnels around the path (any file the street
    /// reader takes); empty for an open sky. Each second, each satellite the buildings
    /// hide is silent, one received by a reflection only arrives later by the extra path
    /// and weaker by the reflection's loss, a clear one with an echo gets a second, later
    /// and weaker copy; under a tunnel every satellite is silent.
    std::filesystem::path buildingsFile;
    street::StreetReadOptions streetRead;      ///< Buildings_Height_Attribute and the reader's choices
    street::StreetModelOptions streetOptions;  ///< antenna height, reflection loss
    /// The street itself, when already read (buildingsFile is then not read).
    std::shared_ptr<const street::StreetModel> street;
    /// The receiver's path from a live stream instead of nmeaFile: fixed piece by piece
    /// (LivePath::commitUntil) as the pieces are planned, which paces the run.
    std::shared_ptr<LivePath> live;
};

/// The full GPS week whose 10-bit number is tenBitWeek, nearest to nearWeek (a week
/// of 1024 or more is taken as full already).
int resolveTenBitWeek(long long tenBitWeek, long long nearWeek);

/// Reads and checks a scenario profile (the keys the scenario step writes, and our own
/// Noise_Only, Noise_Seed, Max_Satellites, Ephemeris_File, Ionosphere, Troposphere and
/// Systems). The
/// sample format is checked by checkSampleFormat when the generator is made, after any
/// command-line overrides. Windows path texts are mapped to files as the scenario step
/// does. Throws Error naming the key, value, line and profile. With nmeaFileNeeded false
/// (a live path), the NMEA file need not exist. ephemerisFile, when given, stands in for
/// the profile's Ephemeris_File (TrajixBinary's --ephemeris). With an ephemeris file the
/// profile need not name an Almanac_File; without one it must.
GeneratorSettings readGeneratorProfile(const std::filesystem::path& profile, bool nmeaFileNeeded = true,
                                       const std::filesystem::path& ephemerisFile = {});

/// Receives the recording's bytes in order, a few tens of milliseconds of signal at a
/// time (signalSeconds: the signal time at the end of these bytes); returns false to
/// stop the run.
using SampleSink = std::function<bool(const std::uint8_t* bytes, std::size_t size, double signalSeconds)>;
/// Receives the generator's messages (satellites chosen, rising and setting).
using GeneratorLog = std::function<void(const std::string& message)>;

/// One satellite of the recording.
struct GeneratedSatellite {
    int prn = 0;
    double elevationDegrees = 0;  ///< at the start
    double cn0 = 0;               ///< dB-Hz at the start (Galileo: E1-B and E1-C together)
    sky::GnssSystem system = sky::GnssSystem::gps;
};

/// How messages name a satellite: "7" for GPS PRN 7, "E11" for Galileo E11.
std::string satelliteName(sky::GnssSystem system, int prn);

class SignalGenerator {
public:
    /// Reads the almanac and the path, and sets up the channels of the satellites above
    /// the mask at the start. Throws Error for unusable files or a sample format it
    /// cannot make.
    explicit SignalGenerator(const GeneratorSettings& settings, GeneratorLog log = {});
    ~SignalGenerator();
    SignalGenerator(const SignalGenerator&) = delete;
    SignalGenerator& operator=(const SignalGenerator&) = delete;

    /// The satellites in the recording at its start.
    const std::vector<GeneratedSatellite>& initialSatellites() const;

    /// Makes the whole recording (settings.threads workers, the bytes the same for any
    /// number) and hands it to sink in order. Returns false when the sink stopped the run.
    bool run(const SampleSink& sink);

    /// What the set-up left out or changed and why, one line each (records the
    /// ephemeris reader skipped, satellites without a valid set during the run, a model
    /// switched off).
    const std::vector<std::string>& notes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// One copy of a satellite's signal at the antenna: later than the direct signal by
/// delaySeconds, its amplitude multiplied by gain.
struct SignalCopy {
    double delaySeconds = 0;
    double gain = 1;
    bool operator==(const SignalCopy&) const = default;
};

/// The copies of a satellite's signal the street lets through: none when it is blocked
/// or the receiver is covered; the reflection alone (late by its extra path, weaker by
/// its loss) when it is received by a reflection only; the direct signal, and its echo
/// when it has one, when it is clear.
std::vector<SignalCopy> signalCopies(const street::SatelliteInStreet& satellite, bool covered);

/// The deterministic stand-in signal of second `second`: pseudo-random bytes.
void fillNoiseSecond(std::uint8_t* bytes, std::size_t size, std::uint64_t second);

}  // namespace trajix
