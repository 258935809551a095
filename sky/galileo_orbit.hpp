#pragma once
// A Galileo satellite's orbit and clock from its broadcast ephemeris (Galileo OS SIS ICD
// user algorithm), times in Galileo System Time. GST runs with GPS time (the two differ
// by the few nanoseconds of the GGTO) and RINEX writes its week in step with GPS weeks.
#include <optional>

#include "sky/gps_orbit.hpp"
#include "sky/kepler_orbit.hpp"

namespace trajix::galileo {

inline constexpr double earthGravitation = 3.986004418e14;    ///< mu, m^3/s^2
inline constexpr double earthRotationRate = 7.2921151467e-5;  ///< rad/s
inline constexpr double relativisticF = -4.442807309e-10;     ///< F, s/sqrt(m)

/// One ephemeris record as RINEX gives it, in SI units.
struct Ephemeris {
    int prn = 0;         ///< 1..36
    long long line = 0;  ///< line of the record's first line in the file
    int week = 0;        ///< GST week of toe, numbered as GPS weeks (RINEX's "GAL week")
    double toc = 0;      ///< seconds from the start of `week` (the record's epoch)
    sky::KeplerOrbit orbit;
    double af0 = 0, af1 = 0, af2 = 0;  ///< s, s/s, s/s^2
    int iodNav = 0;
    int dataSource = 0;  ///< bit 0 I/NAV E1-B, bit 1 F/NAV E5a-I, bit 2 I/NAV E5b-I, bits 8-9 the clock's pair
    int health = 0;      ///< bits 0-2 E1-B (DVS, HS), 3-5 E5a, 6-8 E5b
    double sisaMetres = 0;
    double bgdE5aE1 = 0, bgdE5bE1 = 0;  ///< s
    std::optional<double> transmissionTime;

    /// An I/NAV record (from E1-B or E5b-I); otherwise F/NAV.
    bool inav() const { return (dataSource & 0b101) != 0 || (dataSource & 0b10) == 0; }
    /// The E1 signal's health: E1-B's data validity and signal health bits are clear
    /// (a record flagged only for E5a or E5b still serves E1).
    bool servesE1() const { return (health & 0b111) == 0; }
    /// Seconds of the toe since the start of GPS week 0.
    double toeSeconds() const { return static_cast<double>(week) * gps::secondsPerWeek + orbit.toe; }
};

/// Position (ECEF of the same instant) and clock offset for E1 (I/NAV: E1-E5b group
/// delay removed; F/NAV: E1-E5a) at t, seconds of GST from the start of the record's
/// week.
gps::SatelliteState satelliteState(const Ephemeris& ephemeris, double t);

}  // namespace trajix::galileo
