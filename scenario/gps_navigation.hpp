#pragma once
// GPS L1 C/A as the satellites broadcast it: C/A codes, the broadcast ephemeris and
// clock in the units of the navigation message, orbit positions computed from them
// exactly as a receiver does, and the 50 bit/s navigation message (subframes 1-5 with
// TLM, HOW and parity).
#include <array>
#include <cstdint>
#include <vector>

#include "scenario/yuma_almanac.hpp"

namespace trajix::gps {

inline constexpr double speedOfLight = 299792458.0;           ///< m/s
inline constexpr double earthGravitation = 3.986005e14;       ///< mu, m^3/s^2 (WGS 84 value of the GPS interface)
inline constexpr double earthRotationRate = 7.2921151467e-5;  ///< rad/s
inline constexpr double semicircle = 3.1415926535898;         ///< pi as the navigation message uses it
inline constexpr double relativisticF = -4.442807633e-10;     ///< F, s/sqrt(m)
inline constexpr double l1Frequency = 1575.42e6;              ///< Hz
inline constexpr double chipRate = 1.023e6;                   ///< C/A chips per second
inline constexpr int codeLength = 1023;                       ///< chips per C/A period (1 ms)
inline constexpr int secondsPerWeek = 604800;

/// The C/A code of PRN 1..32: 1023 chips of 0 or 1 (G1 xor the delayed G2), chip 0 first.
std::array<std::uint8_t, codeLength> caCode(int prn);

/// One ephemeris and clock set as broadcast in subframes 1-3: every value an integer in
/// the field's own scale, so the orbit a receiver decodes is the orbit simulated.
struct BroadcastEphemeris {
    int prn = 0;
    int week = 0;                   ///< full GPS week of toe and toc (subframe 1 carries it modulo 1024)
    int toe = 0;                    ///< seconds into the week, multiple of 16
    int toc = 0;                    ///< seconds into the week, multiple of 16
    int iode = 0;                   ///< 0..255; IODC is the same value
    int health = 0;                 ///< 6 bits
    int ura = 0;                    ///< accuracy index, 4 bits
    std::int64_t sqrtA = 0;         ///< unsigned 32 bits, 2^-19 sqrt(m)
    std::int64_t eccentricity = 0;  ///< unsigned 32 bits, 2^-33
    std::int32_t m0 = 0;            ///< 2^-31 semicircles
    std::int32_t omega0 = 0;        ///< 2^-31 semicircles
    std::int32_t i0 = 0;            ///< 2^-31 semicircles
    std::int32_t omega = 0;         ///< argument of perigee, 2^-31 semicircles
    std::int32_t omegaDot = 0;      ///< 24 bits, 2^-43 semicircles/s
    std::int32_t idot = 0;          ///< 14 bits, 2^-43 semicircles/s
    std::int32_t deltaN = 0;        ///< 16 bits, 2^-43 semicircles/s
    std::int32_t crs = 0, crc = 0;  ///< 16 bits, 2^-5 m
    std::int32_t cus = 0, cuc = 0, cis = 0, cic = 0;  ///< 16 bits, 2^-29 rad
    std::int32_t af0 = 0;                             ///< 22 bits, 2^-31 s
    std::int32_t af1 = 0;                             ///< 16 bits, 2^-43 s/s
    std::int32_t af2 = 0;                             ///< 8 bits, 2^-55 s/s^2
    std::int32_t tgd = 0;                             ///< 8 bits, 2^-31 s
};

/// The almanac's orbit and clock as an ephemeris with reference time toe (seconds into
/// full week toeWeek, a multiple of 16), zero harmonic corrections: the mean anomaly is
/// carried from toa to toe with the mean motion, the node with its rate and the Earth's
/// rotation across the weeks, af0 with af1. almanacWeek is the record's full week.
BroadcastEphemeris ephemerisFromAlmanac(const AlmanacRecord& almanac, int almanacWeek, int toeWeek, int toe, int iode);

struct SatelliteState {
    double x = 0, y = 0, z = 0;  ///< ECEF at the time asked for, metres
    double clockOffset =
        0;  ///< satellite time minus GPS time, seconds (relativistic term included, L1 group delay removed)
};

/// Position (ECEF of the same instant) and clock offset at time t, in seconds since the
/// start of the ephemeris' week (may be negative or past the week's end), by the
/// algorithm of IS-GPS-200's user equations.
SatelliteState satelliteState(const BroadcastEphemeris& ephemeris, double t);

/// The 6 parity bits of a 24-bit data word, given the last two bits (D29*, D30*) of the
/// previous word: bits 25..30 of the transmitted word.
unsigned parityBits(std::uint32_t data, unsigned previousD29, unsigned previousD30);

/// The transmitted 30-bit word (bit 1 is the most significant of 30): data bits
/// complemented when D30* is 1, followed by the parity.
std::uint32_t encodeWord(std::uint32_t data, unsigned previousD29, unsigned previousD30);

/// True when a transmitted 30-bit word's parity holds for the given D29*, D30*.
bool parityHolds(std::uint32_t word, unsigned previousD29, unsigned previousD30);

/// UTC parameters for subframe 4 page 18: GPS minus UTC in whole seconds.
struct UtcParameters {
    int leapSeconds = 18;
    int referenceWeek = 0;  ///< full week of tot (and of the leap-second week)
    int referenceTime = 0;  ///< tot, seconds into the week, multiple of 4096
};

/// GPS minus UTC in seconds at the start of a full GPS week (the leap seconds known
/// up to 2017; later weeks keep 18).
int leapSecondsAtWeek(int fullWeek);

/// The whole message a satellite sends: its own ephemeris sets (each broadcast from
/// 3600 s before its toe to 3600 s after) and the almanac of every satellite in
/// subframes 4 and 5.
class NavigationMessage {
public:
    NavigationMessage(std::vector<BroadcastEphemeris> ephemerides, std::vector<AlmanacRecord> almanac,
                      int almanacFullWeek, UtcParameters utc, int baseWeek);

    /// The ten transmitted 30-bit words of subframe `index`, counted from the start of
    /// the base week (index 0 begins at its second 0). Subframes are self-contained: the
    /// HOW and word 10 end in two zero parity bits.
    std::array<std::uint32_t, 10> subframe(std::int64_t index) const;

    /// The data bit (0 or 1) of bit number `bitIndex` counted from the start of the base
    /// week, cached by subframe.
    unsigned bit(std::int64_t bitIndex);

    /// The ephemeris in force at time t (seconds since the start of the base week).
    const BroadcastEphemeris& ephemerisAt(double t) const;

    /// Offset in seconds of an ephemeris' week start from the base week start.
    double weekOffset(const BroadcastEphemeris& ephemeris) const
    {
        return static_cast<double>(ephemeris.week - baseWeek_) * secondsPerWeek;
    }

private:
    std::array<std::uint32_t, 8> dataWords(int subframeId, int page, std::int64_t startSeconds) const;
    std::vector<BroadcastEphemeris> ephemerides_;
    std::vector<AlmanacRecord> almanac_;
    int almanacWeek_;
    UtcParameters utc_;
    int baseWeek_;
    std::int64_t cachedSubframe_ = -1;
    std::array<std::uint32_t, 10> cachedWords_{};
};

}  // namespace trajix::gps
