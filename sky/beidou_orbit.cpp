#include "sky/beidou_orbit.hpp"

#include <cmath>
#include <numbers>

namespace trajix::beidou {

gps::SatelliteState satelliteState(const Ephemeris& e, double t)
{
    const double tk = t - e.orbit.toe;
    gps::SatelliteState s;
    sky::OrbitPoint p;
    if (isGeostationary(e.prn)) {
        // The node stays in the inertial frame of toe; the point found there is tilted
        // by -5 degrees about x and turned with the Earth by its rotation since toe.
        const double node = e.orbit.omega0 + e.orbit.omegaDot * tk - earthRotationRate * e.orbit.toe;
        p = sky::keplerPoint(e.orbit, tk, earthGravitation, node);
        const double tilt = -5.0 * std::numbers::pi / 180;
        const double cosTilt = std::cos(tilt), sinTilt = std::sin(tilt);
        const double x = p.position.x;
        const double y = p.position.y * cosTilt + p.position.z * sinTilt;
        const double z = -p.position.y * sinTilt + p.position.z * cosTilt;
        const double turn = earthRotationRate * tk;
        const double cosTurn = std::cos(turn), sinTurn = std::sin(turn);
        s.x = x * cosTurn + y * sinTurn;
        s.y = -x * sinTurn + y * cosTurn;
        s.z = z;
    } else {
        const double node =
            e.orbit.omega0 + (e.orbit.omegaDot - earthRotationRate) * tk - earthRotationRate * e.orbit.toe;
        p = sky::keplerPoint(e.orbit, tk, earthGravitation, node);
        s.x = p.position.x;
        s.y = p.position.y;
        s.z = p.position.z;
    }
    const double dt = t - e.toc;
    s.clockOffset = e.af0 + e.af1 * dt + e.af2 * dt * dt +
                    relativisticF * e.orbit.eccentricity * e.orbit.sqrtA * std::sin(p.eccentricAnomaly) - e.tgd1;
    return s;
}

}  // namespace trajix::beidou
