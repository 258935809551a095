#include "sky/gps_orbit.hpp"

#include <array>
#include <cmath>

#include "sky/broadcast_fields.hpp"

namespace trajix::gps {

namespace {

double wrapAngle(double radians)
{
    return gps::wrapAngle(radians, semicircle);
}

}  // namespace

BroadcastEphemeris ephemerisFromAlmanac(const AlmanacRecord& almanac, int almanacWeek, int toeWeek, int toe, int iode)
{
    BroadcastEphemeris e;
    e.prn = almanac.prn;
    e.week = toeWeek;
    e.toe = toe;
    e.toc = toe;
    e.iode = iode & 0xFF;
    e.health = 0;
    e.ura = 0;
    e.sqrtA = unsignedField(almanac.sqrtSemiMajorAxis, twoToThe(-19), 32);
    // Carried with the almanac's own values (not the broadcast roundings), so the orbit
    // at toe is the almanac's whatever the distance in time.
    const double sqrtA = almanac.sqrtSemiMajorAxis;
    const double meanMotion = std::sqrt(earthGravitation / (sqrtA * sqrtA * sqrtA * sqrtA * sqrtA * sqrtA));
    const double weeksApart = static_cast<double>(toeWeek - almanacWeek) * secondsPerWeek;
    const double elapsed = weeksApart + toe - almanac.timeOfApplicability;
    e.eccentricity = unsignedField(almanac.eccentricity, twoToThe(-33), 32);
    e.m0 = static_cast<std::int32_t>(
        signedField(wrapAngle(almanac.meanAnomaly + meanMotion * elapsed) / semicircle, twoToThe(-31), 32));
    e.omegaDot = static_cast<std::int32_t>(signedField(almanac.rateOfRightAscension / semicircle, twoToThe(-43), 24));
    // The node at the new week's epoch: the same plane, turned by its own rate over the
    // time since toa and back by the Earth's turn between the two weekly epochs.
    const double omega0 =
        almanac.rightAscensionAtWeek + almanac.rateOfRightAscension * elapsed - earthRotationRate * weeksApart;
    e.omega0 = static_cast<std::int32_t>(signedField(wrapAngle(omega0) / semicircle, twoToThe(-31), 32));
    e.i0 = static_cast<std::int32_t>(signedField(almanac.inclination / semicircle, twoToThe(-31), 32));
    e.omega =
        static_cast<std::int32_t>(signedField(wrapAngle(almanac.argumentOfPerigee) / semicircle, twoToThe(-31), 32));
    e.af1 = static_cast<std::int32_t>(signedField(almanac.clockDrift, twoToThe(-43), 16));
    e.af0 = static_cast<std::int32_t>(signedField(almanac.clockBias + almanac.clockDrift * elapsed, twoToThe(-31), 22));
    return e;
}

SatelliteState satelliteState(const BroadcastEphemeris& eph, double t)
{
    const double sqrtA = static_cast<double>(eph.sqrtA) * twoToThe(-19);
    const double a = sqrtA * sqrtA;
    const double e = static_cast<double>(eph.eccentricity) * twoToThe(-33);
    const double n = std::sqrt(earthGravitation / (a * a * a)) + eph.deltaN * twoToThe(-43) * semicircle;
    const double tk = t - eph.toe;
    const double m = eph.m0 * twoToThe(-31) * semicircle + n * tk;
    double E = m;
    for (int i = 0; i < 30; ++i) {
        const double next = m + e * std::sin(E);
        const bool done = std::abs(next - E) < 1e-15;
        E = next;
        if (done) break;
    }
    const double sinE = std::sin(E), cosE = std::cos(E);
    const double nu = std::atan2(std::sqrt(1 - e * e) * sinE, cosE - e);
    const double phi = nu + eph.omega * twoToThe(-31) * semicircle;
    const double sin2 = std::sin(2 * phi), cos2 = std::cos(2 * phi);
    const double u = phi + eph.cus * twoToThe(-29) * sin2 + eph.cuc * twoToThe(-29) * cos2;
    const double r = a * (1 - e * cosE) + eph.crs * twoToThe(-5) * sin2 + eph.crc * twoToThe(-5) * cos2;
    const double i = eph.i0 * twoToThe(-31) * semicircle + eph.cis * twoToThe(-29) * sin2 +
                     eph.cic * twoToThe(-29) * cos2 + eph.idot * twoToThe(-43) * semicircle * tk;
    const double xOrbit = r * std::cos(u), yOrbit = r * std::sin(u);
    const double node = eph.omega0 * twoToThe(-31) * semicircle +
                        (eph.omegaDot * twoToThe(-43) * semicircle - earthRotationRate) * tk -
                        earthRotationRate * eph.toe;
    const double cosNode = std::cos(node), sinNode = std::sin(node), cosI = std::cos(i);
    SatelliteState s;
    s.x = xOrbit * cosNode - yOrbit * cosI * sinNode;
    s.y = xOrbit * sinNode + yOrbit * cosI * cosNode;
    s.z = yOrbit * std::sin(i);
    const double dt = t - eph.toc;
    s.clockOffset = eph.af0 * twoToThe(-31) + eph.af1 * twoToThe(-43) * dt + eph.af2 * twoToThe(-55) * dt * dt +
                    relativisticF * e * sqrtA * sinE - eph.tgd * twoToThe(-31);
    return s;
}

int leapSecondsAtWeek(int fullWeek)
{
    struct Step {
        int week;
        int seconds;
    };
    // The week in which each leap second took effect (1 July 1981 ... 1 January 2017).
    constexpr std::array<Step, 18> table{{{77, 1},
                                          {129, 2},
                                          {181, 3},
                                          {286, 4},
                                          {416, 5},
                                          {521, 6},
                                          {573, 7},
                                          {651, 8},
                                          {703, 9},
                                          {755, 10},
                                          {834, 11},
                                          {912, 12},
                                          {990, 13},
                                          {1356, 14},
                                          {1512, 15},
                                          {1695, 16},
                                          {1851, 17},
                                          {1930, 18}}};
    int seconds = 0;
    for (const Step& s : table)
        if (fullWeek >= s.week) seconds = s.seconds;
    return seconds;
}

}  // namespace trajix::gps
