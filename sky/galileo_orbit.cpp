#include "sky/galileo_orbit.hpp"

#include <cmath>

namespace trajix::galileo {

gps::SatelliteState satelliteState(const Ephemeris& e, double t)
{
    const double tk = t - e.orbit.toe;
    const double node = e.orbit.omega0 + (e.orbit.omegaDot - earthRotationRate) * tk - earthRotationRate * e.orbit.toe;
    const sky::OrbitPoint p = sky::keplerPoint(e.orbit, tk, earthGravitation, node);
    const double dt = t - e.toc;
    gps::SatelliteState s;
    s.x = p.position.x;
    s.y = p.position.y;
    s.z = p.position.z;
    const double groupDelay = e.inav() ? e.bgdE5bE1 : e.bgdE5aE1;
    s.clockOffset = e.af0 + e.af1 * dt + e.af2 * dt * dt +
                    relativisticF * e.orbit.eccentricity * e.orbit.sqrtA * std::sin(p.eccentricAnomaly) - groupDelay;
    return s;
}

}  // namespace trajix::galileo
