#pragma once
// The delays of the atmosphere on the L1 signal between a satellite and a receiver:
// - ionosphere: the single-frequency model of IS-GPS-200 (Klobuchar) with the eight
//   coefficients the satellites broadcast; it delays the code and advances the carrier
//   by the same amount;
// - troposphere: the Saastamoinen zenith delay (hydrostatic and wet) of the standard
//   atmosphere at the receiver's height (15 degC and 1013.25 hPa at sea level, a lapse
//   rate of 6.5 K/km up to 11 km and isothermal above, 50 % relative humidity), carried
//   to the satellite's elevation E by the mapping 1.001 / sqrt(0.002001 + sin^2 E); it
//   delays code and carrier alike.
#include <array>
#include <optional>

#include "sky/ecef.hpp"

namespace trajix::atmosphere {

/// Klobuchar coefficients: alpha_n in s / semicircle^n, beta_n in s / semicircle^n.
struct Klobuchar {
    std::array<double, 4> alpha{};
    std::array<double, 4> beta{};
};

/// The ionospheric group delay in seconds on L1, for a receiver at geodetic latitude and
/// longitude (radians), a satellite at elevation and azimuth (radians; an elevation
/// below 0 counts as 0) and the GPS time of reception in seconds (of the week or of the
/// day: only its time of day matters). Always at least 5 ns times the slant factor.
double klobucharDelay(const Klobuchar& coefficients, double latitude, double longitude, double elevation,
                      double azimuth, double gpsSeconds);

/// The tropospheric zenith delay in metres at geodetic latitude (radians) and height
/// above the ellipsoid (metres; below -1000 counts as -1000).
double troposphereZenithDelay(double latitude, double height);

/// The slant factor of the troposphere at elevation (radians; below 0 counts as 0).
double troposphereMapping(double elevation);

/// Where a receiver is: geodetic coordinates and its local directions.
struct Place {
    Ecef position;
    double latitude = 0, longitude = 0, height = 0;  ///< radians, metres above the ellipsoid
    std::array<double, 3> east{}, north{}, up{};
};
Place placeOf(const Ecef& receiver);

/// Elevation and azimuth (radians, azimuth clockwise from north) of a satellite.
struct Look {
    double elevation = 0, azimuth = 0;
};
Look lookAt(const Place& place, const Ecef& satellite);

/// The extra delays of a signal, in seconds: of its code and of its carrier phase.
struct PathDelay {
    double code = 0;
    double carrier = 0;
};

/// The models in force: the ionosphere with its coefficients, the troposphere, either,
/// both or none.
struct Model {
    std::optional<Klobuchar> ionosphere;
    bool troposphere = false;

    bool any() const { return ionosphere.has_value() || troposphere; }
    /// The delays of a satellite's signal received at place at GPS time gpsSeconds, on a
    /// carrier of frequencyHz: the ionosphere's, dispersive, scales with (1575.42 MHz /
    /// frequencyHz)^2 from the L1 delay the model gives; the troposphere's does not.
    PathDelay delays(const Place& place, const Ecef& satellite, double gpsSeconds,
                     double frequencyHz = 1575.42e6) const;
};

}  // namespace trajix::atmosphere
