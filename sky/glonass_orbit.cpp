#include "sky/glonass_orbit.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace trajix::glonass {

namespace {

using State = std::array<double, 6>;  // x, y, z, vx, vy, vz

// The derivative of the state in the rotating PZ-90 frame: central gravity, the J2
// term, the centrifugal and Coriolis terms, and the record's luni-solar acceleration.
State derivative(const State& s, const Ephemeris& e)
{
    const double r2 = s[0] * s[0] + s[1] * s[1] + s[2] * s[2];
    const double r = std::sqrt(r2);
    const double muR3 = earthGravitation / (r2 * r);
    const double j2Term = 1.5 * j2 * earthGravitation * earthRadius * earthRadius / (r2 * r2 * r);
    const double z2 = 5 * s[2] * s[2] / r2;
    const double w2 = earthRotationRate * earthRotationRate;
    return {s[3],
            s[4],
            s[5],
            -muR3 * s[0] - j2Term * s[0] * (1 - z2) + w2 * s[0] + 2 * earthRotationRate * s[4] + e.ax,
            -muR3 * s[1] - j2Term * s[1] * (1 - z2) + w2 * s[1] - 2 * earthRotationRate * s[3] + e.ay,
            -muR3 * s[2] - j2Term * s[2] * (3 - z2) + e.az};
}

State plus(const State& s, const State& d, double h)
{
    State out;
    for (std::size_t k = 0; k < 6; ++k) out[k] = s[k] + d[k] * h;
    return out;
}

// One fourth-order Runge-Kutta step of h seconds.
void step(State& s, const Ephemeris& e, double h)
{
    const State k1 = derivative(s, e);
    const State k2 = derivative(plus(s, k1, h / 2), e);
    const State k3 = derivative(plus(s, k2, h / 2), e);
    const State k4 = derivative(plus(s, k3, h), e);
    for (std::size_t k = 0; k < 6; ++k) s[k] += h / 6 * (k1[k] + 2 * k2[k] + 2 * k3[k] + k4[k]);
}

// The same step of two satellites at once, each by the very operations of step(): the
// two chains of square roots and divisions are independent, so the processor runs them
// side by side.
void stepBoth(State& a, const Ephemeris& ea, double ha, State& b, const Ephemeris& eb, double hb)
{
    const State k1a = derivative(a, ea);
    const State k1b = derivative(b, eb);
    const State k2a = derivative(plus(a, k1a, ha / 2), ea);
    const State k2b = derivative(plus(b, k1b, hb / 2), eb);
    const State k3a = derivative(plus(a, k2a, ha / 2), ea);
    const State k3b = derivative(plus(b, k2b, hb / 2), eb);
    const State k4a = derivative(plus(a, k3a, ha), ea);
    const State k4b = derivative(plus(b, k3b, hb), eb);
    for (std::size_t k = 0; k < 6; ++k) a[k] += ha / 6 * (k1a[k] + 2 * k2a[k] + 2 * k3a[k] + k4a[k]);
    for (std::size_t k = 0; k < 6; ++k) b[k] += hb / 6 * (k1b[k] + 2 * k2b[k] + 2 * k3b[k] + k4b[k]);
}

int stepsFor(double dt)
{
    return std::max(1, static_cast<int>(std::ceil(std::abs(dt) / integrationStep)));
}

gps::SatelliteState stateOf(const State& s, const Ephemeris& e, double dt)
{
    gps::SatelliteState out;
    out.x = s[0];
    out.y = s[1];
    out.z = s[2];
    out.clockOffset = e.minusTauN + e.gammaN * dt;
    return out;
}

}  // namespace

gps::SatelliteState satelliteState(const Ephemeris& e, double dt)
{
    State s{e.x, e.y, e.z, e.vx, e.vy, e.vz};
    const int steps = stepsFor(dt);
    const double h = dt / steps;
    for (int i = 0; i < steps; ++i) step(s, e, h);
    return stateOf(s, e, dt);
}

std::array<gps::SatelliteState, 2> satelliteStates(const Ephemeris& ea, double dta, const Ephemeris& eb, double dtb)
{
    State a{ea.x, ea.y, ea.z, ea.vx, ea.vy, ea.vz};
    State b{eb.x, eb.y, eb.z, eb.vx, eb.vy, eb.vz};
    const int stepsA = stepsFor(dta), stepsB = stepsFor(dtb);
    const double ha = dta / stepsA, hb = dtb / stepsB;
    const int both = std::min(stepsA, stepsB);
    for (int i = 0; i < both; ++i) stepBoth(a, ea, ha, b, eb, hb);
    for (int i = both; i < stepsA; ++i) step(a, ea, ha);
    for (int i = both; i < stepsB; ++i) step(b, eb, hb);
    return {stateOf(a, ea, dta), stateOf(b, eb, dtb)};
}

}  // namespace trajix::glonass
