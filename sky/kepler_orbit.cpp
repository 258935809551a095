#include "sky/kepler_orbit.hpp"

#include <cmath>

namespace trajix::sky {

OrbitPoint keplerPoint(const KeplerOrbit& o, double tk, double gm, double node)
{
    const double a = o.sqrtA * o.sqrtA;
    const double n = std::sqrt(gm / (a * a * a)) + o.deltaN;
    const double m = o.m0 + n * tk;
    const double e = o.eccentricity;
    double eccentric = m;
    for (int i = 0; i < 30; ++i) {
        const double next = m + e * std::sin(eccentric);
        const bool done = std::abs(next - eccentric) < 1e-15;
        eccentric = next;
        if (done) break;
    }
    const double nu = std::atan2(std::sqrt(1 - e * e) * std::sin(eccentric), std::cos(eccentric) - e);
    const double phi = nu + o.omega;
    const double sin2 = std::sin(2 * phi), cos2 = std::cos(2 * phi);
    const double u = phi + o.cus * sin2 + o.cuc * cos2;
    const double r = a * (1 - e * std::cos(eccentric)) + o.crs * sin2 + o.crc * cos2;
    const double i = o.i0 + o.cis * sin2 + o.cic * cos2 + o.idot * tk;
    const double xOrbit = r * std::cos(u), yOrbit = r * std::sin(u);
    const double cosNode = std::cos(node), sinNode = std::sin(node), cosI = std::cos(i);
    OrbitPoint p;
    p.position = {xOrbit * cosNode - yOrbit * cosI * sinNode, xOrbit * sinNode + yOrbit * cosI * cosNode,
                  yOrbit * std::sin(i)};
    p.eccentricAnomaly = eccentric;
    return p;
}

}  // namespace trajix::sky
