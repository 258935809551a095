// The atmosphere's delays against plain references written here from the published
// models: the Klobuchar algorithm of IS-GPS-200 step by step in degrees and
// semicircles, and the standard atmosphere's pressure by integrating the hydrostatic
// equation, over many random geometries.
#include <cmath>
#include <numbers>
#include <random>

#include <gtest/gtest.h>

#include "signal/atmosphere.hpp"
#include "sky/sky_model.hpp"

using namespace trajix;

namespace {

constexpr double pi = std::numbers::pi;

// IS-GPS-200 20.3.3.5.2.5, as written there: angles in semicircles, t in seconds of day.
double referenceKlobuchar(const atmosphere::Klobuchar& k, double latitudeDeg, double longitudeDeg, double elevationDeg,
                          double azimuthDeg, double gpsTime)
{
    const double E = elevationDeg / 180, phiU = latitudeDeg / 180, lambdaU = longitudeDeg / 180;
    const double A = azimuthDeg * pi / 180;
    const double psi = 0.0137 / (E + 0.11) - 0.022;
    double phiI = phiU + psi * std::cos(A);
    if (phiI > 0.416) phiI = 0.416;
    if (phiI < -0.416) phiI = -0.416;
    const double lambdaI = lambdaU + psi * std::sin(A) / std::cos(phiI * pi);
    const double phiM = phiI + 0.064 * std::cos((lambdaI - 1.617) * pi);
    double t = 4.32e4 * lambdaI + gpsTime;
    t -= 86400 * std::floor(t / 86400);
    const double F = 1.0 + 16.0 * std::pow(0.53 - E, 3);
    double amp = k.alpha[0] + k.alpha[1] * phiM + k.alpha[2] * phiM * phiM + k.alpha[3] * phiM * phiM * phiM;
    if (amp < 0) amp = 0;
    double per = k.beta[0] + k.beta[1] * phiM + k.beta[2] * phiM * phiM + k.beta[3] * phiM * phiM * phiM;
    if (per < 72000) per = 72000;
    const double x = 2 * pi * (t - 50400) / per;
    if (std::abs(x) < 1.57) return F * (5.0e-9 + amp * (1 - x * x / 2 + x * x * x * x / 24));
    return F * 5.0e-9;
}

// The standard atmosphere's pressure (hPa) at height h (m): the hydrostatic equation
// dP/dh = -P g M / (R T(h)) integrated with Simpson's rule from sea level.
double referencePressure(double h)
{
    const auto temperature = [](double z) { return z <= 11000 ? 288.15 - 0.0065 * z : 216.65; };
    const double gmOverR = 9.80665 * 0.0289644 / 8.3144598;
    const int steps = 4000;
    const double dz = h / steps;
    double integral = 0;
    for (int i = 0; i <= steps; ++i) {
        const double weight = (i == 0 || i == steps) ? 1 : (i % 2 ? 4 : 2);
        integral += weight / temperature(i * dz);
    }
    return 1013.25 * std::exp(-gmOverR * integral * dz / 3);
}

// Saastamoinen's zenith delay (m) with the vapour pressure from Tetens' formula, 50 %.
double referenceZenithDelay(double latitude, double h)
{
    const double temperature = h <= 11000 ? 288.15 - 0.0065 * h : 216.65;
    const double celsius = temperature - 273.15;
    const double vapour = 0.5 * 6.1078 * std::exp(17.27 * celsius / (celsius + 237.3));
    const double hydrostatic =
        0.0022768 * referencePressure(h) / (1 - 0.00266 * std::cos(2 * latitude) - 0.00028 * h / 1000);
    return hydrostatic + 0.002277 * (1255 / temperature + 0.05) * vapour;
}

}  // namespace

TEST(Atmosphere, KlobucharMatchesTheInterfaceAlgorithmOverRandomGeometries)
{
    std::mt19937_64 random(29);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int n = 0; n < 20000; ++n) {
        // Coefficients around those of real days (the 2010 and 2018 files), signs mixed.
        atmosphere::Klobuchar k;
        for (std::size_t i = 0; i < 4; ++i) {
            k.alpha[i] = (unit(random) * 2 - 0.5) * 1.2e-7 * std::pow(8.0, static_cast<double>(i));
            k.beta[i] = (unit(random) * 2 - 0.5) * 1.3e5 * std::pow(4.0, static_cast<double>(i));
        }
        const double lat = unit(random) * 180 - 90, lon = unit(random) * 360 - 180;
        const double el = unit(random) * 90, az = unit(random) * 360, t = unit(random) * 604800;
        const double delay =
            atmosphere::klobucharDelay(k, lat * pi / 180, lon * pi / 180, el * pi / 180, az * pi / 180, t);
        ASSERT_NEAR(delay, referenceKlobuchar(k, lat, lon, el, az, t), 1e-16) << n;
    }
}

TEST(Atmosphere, TroposphereFollowsTheStandardAtmosphereAndItsMapping)
{
    std::mt19937_64 random(1013);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int n = 0; n < 300; ++n) {
        const double latitude = (unit(random) - 0.5) * pi, height = unit(random) * 20000 - 400;
        ASSERT_NEAR(atmosphere::troposphereZenithDelay(latitude, height), referenceZenithDelay(latitude, height), 1e-3)
            << latitude << " " << height;
        // The mapping: 1 at zenith, growing towards the horizon, below the flat-earth
        // cosecant and within 2 % of it above 15 degrees.
        const double el = unit(random) * pi / 2, m = atmosphere::troposphereMapping(el);
        ASSERT_LT(m, atmosphere::troposphereMapping(el * 0.99));
        ASSERT_LE(m, 1 / std::sin(el) * (1 + 1e-12));
        ASSERT_TRUE(el < 15 * pi / 180 || m > 0.98 / std::sin(el)) << el;
    }
    EXPECT_NEAR(atmosphere::troposphereZenithDelay(pi / 4, 0), 2.4, 0.1);
    EXPECT_NEAR(atmosphere::troposphereMapping(pi / 2), 1, 1e-4);
    EXPECT_EQ(atmosphere::troposphereMapping(-0.2), atmosphere::troposphereMapping(0));
}

TEST(Atmosphere, PathDelaysUseTheSatellitesLookFromTheReceiver)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    atmosphere::Model model;
    model.troposphere = true;
    model.ionosphere = atmosphere::Klobuchar{{5.5879e-9, 1.4901e-8, -5.9605e-8, -1.1921e-7},
                                             {8.3968e4, 9.8304e4, -6.5536e4, -5.2429e5}};
    for (int n = 0; n < 2000; ++n) {
        const double latDeg = unit(random) * 178 - 89, lonDeg = unit(random) * 360 - 180,
                     height = unit(random) * 9000 - 100;
        const Ecef receiver = geodeticToEcef(latDeg, lonDeg, height);
        const atmosphere::Place place = atmosphere::placeOf(receiver);
        ASSERT_NEAR(place.latitude, latDeg * pi / 180, 1e-11);
        ASSERT_NEAR(place.longitude, lonDeg * pi / 180, 1e-11);
        ASSERT_NEAR(place.height, height, 1e-4);
        // A satellite anywhere on a shell of GPS orbit radius.
        const double theta = std::acos(unit(random) * 2 - 1), phi = unit(random) * 2 * pi, r = 26.56e6;
        const Ecef satellite{r * std::sin(theta) * std::cos(phi), r * std::sin(theta) * std::sin(phi),
                             r * std::cos(theta)};
        const atmosphere::Look look = atmosphere::lookAt(place, satellite);
        const sky::ReceiverFrame frame = sky::receiverFrame(receiver);
        ASSERT_NEAR(look.elevation * 180 / pi, sky::elevationDegrees(frame, satellite), 1e-7);
        if (look.elevation < 1.5) {
            ASSERT_NEAR(std::remainder(look.azimuth * 180 / pi - sky::azimuthDegrees(frame, satellite), 360), 0, 1e-6);
        }
        const double t = unit(random) * 604800;
        const atmosphere::PathDelay delay = model.delays(place, satellite, t);
        const double troposphere = atmosphere::troposphereZenithDelay(place.latitude, height) *
                                   atmosphere::troposphereMapping(look.elevation) / 299792458.0;
        const double ionosphere = referenceKlobuchar(
            *model.ionosphere, latDeg, lonDeg, std::max(0.0, look.elevation * 180 / pi), look.azimuth * 180 / pi, t);
        // The ionosphere delays the code and advances the carrier; the troposphere delays both.
        ASSERT_NEAR(delay.code, troposphere + ionosphere, 1e-15);
        ASSERT_NEAR(delay.carrier, troposphere - ionosphere, 1e-15);
    }
}
