#include "signal/atmosphere.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace trajix::atmosphere {

namespace {

constexpr double pi = std::numbers::pi;

// The standard atmosphere: sea-level temperature (K) and pressure (hPa), the lapse rate
// (K/m) up to the tropopause at 11 km, the exponent g M / (R L) of the pressure's fall
// with the temperature, and the scale height (m) of the isothermal layer above.
constexpr double seaLevelTemperature = 288.15;
constexpr double seaLevelPressure = 1013.25;
constexpr double lapseRate = 0.0065;
constexpr double tropopause = 11000;
constexpr double pressureExponent = 5.25588;
constexpr double stratosphereScaleHeight = 6341.6;
constexpr double relativeHumidity = 0.5;

}  // namespace

double klobucharDelay(const Klobuchar& k, double latitude, double longitude, double elevation, double azimuth,
                      double gpsSeconds)
{
    // The interface's algorithm works in semicircles.
    const double e = std::max(elevation, 0.0) / pi;
    const double userLatitude = latitude / pi, userLongitude = longitude / pi;
    const double earthAngle = 0.0137 / (e + 0.11) - 0.022;
    const double pierceLatitude = std::clamp(userLatitude + earthAngle * std::cos(azimuth), -0.416, 0.416);
    const double pierceLongitude = userLongitude + earthAngle * std::sin(azimuth) / std::cos(pierceLatitude * pi);
    const double geomagnetic = pierceLatitude + 0.064 * std::cos((pierceLongitude - 1.617) * pi);
    double localTime = std::fmod(4.32e4 * pierceLongitude + gpsSeconds, 86400.0);
    if (localTime < 0) localTime += 86400;
    const double slant = 1 + 16 * std::pow(0.53 - e, 3);
    double amplitude = 0, period = 0, power = 1;
    for (std::size_t n = 0; n < 4; ++n) {
        amplitude += k.alpha[n] * power;
        period += k.beta[n] * power;
        power *= geomagnetic;
    }
    amplitude = std::max(amplitude, 0.0);
    period = std::max(period, 72000.0);
    const double phase = 2 * pi * (localTime - 50400) / period;
    if (std::abs(phase) >= 1.57) return slant * 5e-9;
    const double x2 = phase * phase;
    return slant * (5e-9 + amplitude * (1 - x2 / 2 + x2 * x2 / 24));
}

double troposphereZenithDelay(double latitude, double height)
{
    const double h = std::max(height, -1000.0);
    double temperature = 0, pressure = 0;
    if (h <= tropopause) {
        temperature = seaLevelTemperature - lapseRate * h;
        pressure = seaLevelPressure * std::pow(temperature / seaLevelTemperature, pressureExponent);
    } else {
        temperature = seaLevelTemperature - lapseRate * tropopause;
        pressure = seaLevelPressure * std::pow(temperature / seaLevelTemperature, pressureExponent) *
                   std::exp(-(h - tropopause) / stratosphereScaleHeight);
    }
    // Water vapour pressure (hPa): the humidity times the saturation pressure over water
    // (Magnus form).
    const double celsius = temperature - 273.15;
    const double vapour = relativeHumidity * 6.1094 * std::exp(17.625 * celsius / (celsius + 243.04));
    const double hydrostatic = 0.0022768 * pressure / (1 - 0.00266 * std::cos(2 * latitude) - 0.00028 * h / 1000);
    const double wet = 0.002277 * (1255 / temperature + 0.05) * vapour;
    return hydrostatic + wet;
}

double troposphereMapping(double elevation)
{
    const double s = std::sin(std::max(elevation, 0.0));
    return 1.001 / std::sqrt(0.002001 + s * s);
}

Place placeOf(const Ecef& receiver)
{
    // Geodetic latitude by fixed-point iteration on the height (WGS-84).
    constexpr double a = 6378137.0, e2 = 6.69437999014e-3;
    const double p = std::hypot(receiver.x, receiver.y);
    double latitude = std::atan2(receiver.z, p * (1 - e2)), height = 0;
    for (int i = 0; i < 6; ++i) {
        const double sine = std::sin(latitude);
        const double n = a / std::sqrt(1 - e2 * sine * sine);
        height = p > 1 ? p / std::cos(latitude) - n : std::abs(receiver.z) - n * (1 - e2);
        latitude = std::atan2(receiver.z, p * (1 - e2 * n / (n + height)));
    }
    Place place;
    place.position = receiver;
    place.latitude = latitude;
    place.longitude = std::atan2(receiver.y, receiver.x);
    place.height = height;
    const double cosLat = std::cos(latitude), sinLat = std::sin(latitude);
    const double cosLon = std::cos(place.longitude), sinLon = std::sin(place.longitude);
    place.east = {-sinLon, cosLon, 0};
    place.north = {-sinLat * cosLon, -sinLat * sinLon, cosLat};
    place.up = {cosLat * cosLon, cosLat * sinLon, sinLat};
    return place;
}

Look lookAt(const Place& place, const Ecef& satellite)
{
    const std::array<double, 3> d{satellite.x - place.position.x, satellite.y - place.position.y,
                                  satellite.z - place.position.z};
    const auto dot = [&d](const std::array<double, 3>& v) { return d[0] * v[0] + d[1] * v[1] + d[2] * v[2]; };
    const double east = dot(place.east), north = dot(place.north), up = dot(place.up);
    return {std::atan2(up, std::hypot(east, north)), std::atan2(east, north)};
}

PathDelay Model::delays(const Place& place, const Ecef& satellite, double gpsSeconds, double frequencyHz) const
{
    PathDelay delay;
    if (!any()) return delay;
    const Look look = lookAt(place, satellite);
    if (troposphere) {
        const double seconds =
            troposphereZenithDelay(place.latitude, place.height) * troposphereMapping(look.elevation) / 299792458.0;
        delay.code += seconds;
        delay.carrier += seconds;
    }
    if (ionosphere) {
        // The delay goes with the inverse square of the frequency (exactly 1 on L1).
        const double ratio = 1575.42e6 / frequencyHz;
        const double seconds =
            klobucharDelay(*ionosphere, place.latitude, place.longitude, look.elevation, look.azimuth, gpsSeconds) *
            (ratio * ratio);
        delay.code += seconds;
        delay.carrier -= seconds;
    }
    return delay;
}

}  // namespace trajix::atmosphere
