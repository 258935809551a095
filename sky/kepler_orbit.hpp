#pragma once
// The Keplerian broadcast orbit Galileo and BeiDou share with GPS: sixteen elements and
// the harmonic corrections, in SI units, computed with each system's own constants.
#include "sky/ecef.hpp"

namespace trajix::sky {

/// The orbit elements of a broadcast record as RINEX writes them (metres, radians,
/// radians per second, seconds).
struct KeplerOrbit {
    double toe = 0;  ///< reference time, seconds into the system's week
    double sqrtA = 0;
    double eccentricity = 0;
    double m0 = 0, deltaN = 0;
    double omega0 = 0, omegaDot = 0;
    double i0 = 0, idot = 0;
    double omega = 0;  ///< argument of perigee
    double crs = 0, crc = 0, cus = 0, cuc = 0, cis = 0, cic = 0;
};

/// A point of the orbit in the frame whose x axis points to the node longitude given,
/// with the eccentric anomaly the clock's relativistic term needs.
struct OrbitPoint {
    Ecef position;  ///< metres
    double eccentricAnomaly = 0;
};

/// The orbit at tk seconds from toe for a gravitational constant gm (m^3/s^2), the
/// ascending node placed at longitude `node` (radians): the caller turns the node with
/// the Earth as its system's interface says.
OrbitPoint keplerPoint(const KeplerOrbit& orbit, double tk, double gm, double node);

}  // namespace trajix::sky
