#include "geo/geodesy.hpp"

#include <cmath>

namespace trajix {

namespace {
constexpr long double toRadians = wgs84::pi / 180;
constexpr long double toDegrees = 180 / wgs84::pi;
}  // namespace

void LatLongToECEF(GeoState& geo, long double latitude, long double longitude, long double height)
{
    using namespace wgs84;
    const long double phi = latitude * toRadians;
    const long double lambda = longitude * toRadians;
    const long double sinPhi = std::sin(phi);
    const long double n = a / std::sqrt(1 - e2 * sinPhi * sinPhi);
    geo.ecefX = (n + height) * std::cos(phi) * std::cos(lambda);
    geo.ecefY = (n + height) * std::cos(phi) * std::sin(lambda);
    geo.ecefZ = (n * (1 - e2) + height) * sinPhi;
}

void ECEFToLatLong(GeoState& geo, long double x, long double y, long double z)
{
    using namespace wgs84;
    const long double p2 = x * x + y * y;
    const long double p = std::sqrt(p2);
    const long double bigE2 = a * a - b * b;
    const long double bigF = 54 * b * b * z * z;
    const long double g = p2 + (1 - e2) * z * z - e2 * bigE2;
    const long double c = e2 * e2 * bigF * p2 / (g * g * g);
    const long double s = std::pow(1 + c + std::sqrt(c * c + 2 * c), 1.0L / 3);
    const long double k = s + 1 + 1 / s;
    const long double bigP = bigF / (3 * k * k * g * g);
    const long double q = std::sqrt(1 + 2 * e2 * e2 * bigP);
    const long double r0 = -(bigP * e2 * p) / (1 + q) +
                           std::sqrt(a * a / 2 * (1 + 1 / q) - bigP * (1 - e2) * z * z / (q * (1 + q)) - bigP * p2 / 2);
    const long double u = std::sqrt((p - e2 * r0) * (p - e2 * r0) + z * z);
    const long double v = std::sqrt((p - e2 * r0) * (p - e2 * r0) + (1 - e2) * z * z);
    const long double z0 = b * b * z / (a * v);
    geo.geoHeight = u * (1 - b * b / (a * v));
    geo.geoLatitude = std::atan((z + ep2 * z0) / p) * toDegrees;
    geo.geoLongitude = std::atan2(y, x) * toDegrees;
}

void ECEFtoENU(GeoState& geo, long double x, long double y, long double z)
{
    const long double lambda = std::atan2(geo.refY, geo.refX);
    const long double phic = std::atan2(geo.refZ, std::sqrt(geo.refX * geo.refX + geo.refY * geo.refY));
    const long double dx = x - geo.refX, dy = y - geo.refY, dz = z - geo.refZ;
    geo.localEast = -std::sin(lambda) * dx + std::cos(lambda) * dy;
    geo.localNorth = -std::sin(phic) * std::cos(lambda) * dx - std::sin(phic) * std::sin(lambda) * dy + std::cos(phic) * dz;
    geo.localUp = std::cos(phic) * std::cos(lambda) * dx + std::cos(phic) * std::sin(lambda) * dy + std::sin(phic) * dz;
}

void ENUtoECEF(GeoState& geo, long double east, long double north, long double up)
{
    ECEFToLatLong(geo, geo.refX, geo.refY, geo.refZ);
    const long double lambda = geo.geoLongitude * toRadians;
    const long double phic = std::atan2(geo.refZ, std::sqrt(geo.refX * geo.refX + geo.refY * geo.refY));
    const long double sl = std::sin(lambda), cl = std::cos(lambda);
    const long double sp = std::sin(phic), cp = std::cos(phic);
    geo.ecefX = -sl * east - cl * sp * north + cl * cp * up + geo.refX;
    geo.ecefY = cl * east - sl * sp * north + sl * cp * up + geo.refY;
    geo.ecefZ = cp * north + sp * up + geo.refZ;
}

void setLocalOrigin(GeoState& geo, long double latitude, long double longitude, long double height)
{
    LatLongToECEF(geo, latitude, longitude, height);
    geo.refX = geo.ecefX;
    geo.refY = geo.ecefY;
    geo.refZ = geo.ecefZ;
}

}  // namespace trajix
