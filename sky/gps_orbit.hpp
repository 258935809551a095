#pragma once
// A GPS satellite's orbit and clock from its broadcast ephemeris, in the units of the
// navigation message, computed exactly as a receiver does (IS-GPS-200 user equations).
#include <cstdint>

#include "sky/yuma_almanac.hpp"

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

/// GPS minus UTC in seconds at the start of a full GPS week (the leap seconds known
/// up to 2017; later weeks keep 18).
int leapSecondsAtWeek(int fullWeek);

}  // namespace trajix::gps
