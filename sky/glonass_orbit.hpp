#pragma once
// A GLONASS satellite's orbit and clock from its broadcast state vector (GLONASS ICD
// edition 5.1, appendix A.3.1.2): the position, velocity and luni-solar acceleration
// at tb in PZ-90, carried to the time asked for by fourth-order Runge-Kutta
// integration of the equations of motion with the Earth's J2 term. RINEX writes the
// record's epoch in UTC (GLONASS time is UTC(SU) + 3 h).
#include <array>
#include <optional>

#include "sky/gps_orbit.hpp"

namespace trajix::glonass {

inline constexpr double earthGravitation = 398600.4418e9;  ///< mu, m^3/s^2 (PZ-90)
inline constexpr double earthRadius = 6378136.0;           ///< a_e, m
inline constexpr double j2 = 1082625.75e-9;                ///< second zonal harmonic
inline constexpr double earthRotationRate = 7.292115e-5;   ///< rad/s
inline constexpr double integrationStep = 60;              ///< s, the longest Runge-Kutta step
inline constexpr double l1Frequency = 1602e6;              ///< Hz, channel 0
inline constexpr double l1ChannelSpacing = 562.5e3;        ///< Hz per channel

/// One ephemeris record as RINEX gives it, in SI units.
struct Ephemeris {
    int slot = 0;                   ///< orbital slot 1..24 (RINEX's Rnn)
    long long line = 0;             ///< line of the record's first line in the file
    long long epochUtc = 0;         ///< tb: seconds since 1980-01-06 00:00:00 UTC, leap seconds not counted
    double minusTauN = 0;           ///< -tau_n, s (the clock's bias as RINEX writes it)
    double gammaN = 0;              ///< relative frequency bias
    double frameTime = 0;           ///< message frame time tk, seconds of the UTC week
    double x = 0, y = 0, z = 0;     ///< m, PZ-90 at tb
    double vx = 0, vy = 0, vz = 0;  ///< m/s
    double ax = 0, ay = 0, az = 0;  ///< m/s^2, the luni-solar acceleration
    int health = 0;                 ///< Bn's health bit; 0 is healthy
    int channel = 0;                ///< frequency channel number -7..+6
    double ageDays = 0;             ///< age of the operational information E_n
    std::optional<double> statusFlags, groupDelay, urai, healthFlags;  ///< RINEX 3.05's fifth line
};

/// The carrier frequency of a channel's L1 signal, Hz.
constexpr double l1FrequencyOf(int channel)
{
    return l1Frequency + channel * l1ChannelSpacing;
}

/// Position (ECEF, PZ-90, of the same instant) and clock offset (satellite minus
/// GLONASS time) at dt seconds from the record's epoch tb.
gps::SatelliteState satelliteState(const Ephemeris& ephemeris, double dt);

/// satelliteState of two records at once, bit for bit the same, in much less than the
/// time of two calls.
std::array<gps::SatelliteState, 2> satelliteStates(const Ephemeris& a, double dtA, const Ephemeris& b, double dtB);

}  // namespace trajix::glonass
