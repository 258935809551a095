#pragma once
// A BeiDou satellite's orbit and clock from its D1/D2 broadcast ephemeris (BeiDou open
// service ICD user algorithm, CGCS2000 constants), times in BeiDou Time: BDT began at
// 2006-01-01 00:00:00 UTC, GPS week 1356, and runs 14 s behind GPS time.
#include <optional>

#include "sky/gps_orbit.hpp"
#include "sky/kepler_orbit.hpp"

namespace trajix::beidou {

inline constexpr double earthGravitation = 3.986004418e14;  ///< mu, m^3/s^2 (CGCS2000)
inline constexpr double earthRotationRate = 7.292115e-5;    ///< rad/s (CGCS2000)
inline constexpr double relativisticF = -4.442807309e-10;   ///< F, s/sqrt(m)
inline constexpr int weekOffset = 1356;                     ///< GPS week of BDT week 0
inline constexpr double gpsMinusBdt = 14;                   ///< s

/// The geostationary satellites (C01-C05 and C59-C63), whose orbits the ICD computes in
/// a frame of their own.
constexpr bool isGeostationary(int prn)
{
    return (prn >= 1 && prn <= 5) || (prn >= 59 && prn <= 63);
}

/// One ephemeris record as RINEX gives it, in SI units.
struct Ephemeris {
    int prn = 0;         ///< 1..63
    long long line = 0;  ///< line of the record's first line in the file
    int week = 0;        ///< BDT week of toe
    double toc = 0;      ///< seconds from the start of `week` (the record's epoch), BDT
    sky::KeplerOrbit orbit;
    double af0 = 0, af1 = 0, af2 = 0;  ///< s, s/s, s/s^2
    int aode = 0, aodc = 0;
    int health = 0;  ///< SatH1; 0 is healthy
    double accuracyMetres = 0;
    double tgd1 = 0, tgd2 = 0;  ///< B1/B3 and B2/B3 group delays, s
    std::optional<double> transmissionTime;

    /// Seconds of the toe since the start of GPS week 0, in GPS time.
    double toeSeconds() const
    {
        return static_cast<double>(week + weekOffset) * gps::secondsPerWeek + orbit.toe + gpsMinusBdt;
    }
};

/// Position (ECEF, CGCS2000, of the same instant) and B1I clock offset (TGD1 removed)
/// at t, seconds of BDT from the start of the record's week. The clock offset is the
/// satellite's minus BDT.
gps::SatelliteState satelliteState(const Ephemeris& ephemeris, double t);

}  // namespace trajix::beidou
