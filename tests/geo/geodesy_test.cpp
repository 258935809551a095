#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>

#include "geo/geodesy.hpp"

using namespace trajix;

TEST(Geodesy, EquatorPrimeMeridian)
{
    GeoState geo;
    LatLongToECEF(geo, 0, 0, 0);
    EXPECT_NEAR(static_cast<double>(geo.ecefX), 6378137.0, 1e-6);
    EXPECT_NEAR(static_cast<double>(geo.ecefY), 0.0, 1e-6);
    EXPECT_NEAR(static_cast<double>(geo.ecefZ), 0.0, 1e-6);
    ECEFToLatLong(geo, geo.ecefX, geo.ecefY, geo.ecefZ);
    EXPECT_NEAR(static_cast<double>(geo.geoLatitude), 0.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(geo.geoLongitude), 0.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(geo.geoHeight), 0.0, 1e-6);
}

TEST(Geodesy, AgreesWithGeographicLibOffThePoles)
{
    const GeographicLib::Geocentric& earth = GeographicLib::Geocentric::WGS84();
    GeoState geo;
    for (double lat = -89; lat <= 89; lat += 7.25) {
        for (double lon = -180; lon < 180; lon += 23.5) {
            for (double h : {-100.0, 0.0, 160.0, 9000.0}) {
                double x, y, z;
                earth.Forward(lat, lon, h, x, y, z);
                LatLongToECEF(geo, lat, lon, h);
                EXPECT_NEAR(static_cast<double>(geo.ecefX), x, 1e-4);
                EXPECT_NEAR(static_cast<double>(geo.ecefY), y, 1e-4);
                EXPECT_NEAR(static_cast<double>(geo.ecefZ), z, 1e-4);
                double rlat, rlon, rh;
                earth.Reverse(x, y, z, rlat, rlon, rh);
                ECEFToLatLong(geo, x, y, z);
                EXPECT_NEAR(static_cast<double>(geo.geoLatitude), rlat, 1e-9) << lat << " " << lon << " " << h;
                EXPECT_NEAR(static_cast<double>(geo.geoLongitude), rlon, 1e-9);
                EXPECT_NEAR(static_cast<double>(geo.geoHeight), rh, 1e-4);
            }
        }
    }
}

TEST(Geodesy, LocalFrameRoundTrip)
{
    GeoState geo;
    setLocalOrigin(geo, 52, 0, 0);
    ECEFtoENU(geo, geo.refX, geo.refY, geo.refZ);
    EXPECT_NEAR(static_cast<double>(geo.localEast), 0, 1e-9);
    EXPECT_NEAR(static_cast<double>(geo.localNorth), 0, 1e-9);
    EXPECT_NEAR(static_cast<double>(geo.localUp), 0, 1e-9);
    ENUtoECEF(geo, 1234.5L, -987.25L, 42);
    EXPECT_NEAR(static_cast<double>(geo.geoLatitude), 52, 1e-12);  // the origin, as a side effect
    ECEFtoENU(geo, geo.ecefX, geo.ecefY, geo.ecefZ);
    EXPECT_NEAR(static_cast<double>(geo.localEast), 1234.5, 1e-8);
    EXPECT_NEAR(static_cast<double>(geo.localNorth), -987.25, 1e-8);
    EXPECT_NEAR(static_cast<double>(geo.localUp), 42, 1e-8);
}

TEST(Geodesy, TheLocalPlaneIsTiltedByTheGeocentricLatitude)
{
    GeoState geo;
    setLocalOrigin(geo, 52, 0, 0);
    auto convert = [&](long double e, long double n) {
        ENUtoECEF(geo, e, n, 0);
        ECEFToLatLong(geo, geo.ecefX, geo.ecefY, geo.ecefZ);
    };
    convert(1000, 0);
    EXPECT_NEAR(static_cast<double>(geo.geoHeight), 0.08, 0.005);
    convert(0, 1000);
    EXPECT_NEAR(static_cast<double>(geo.geoLatitude), 52.00899, 0.00001);
    EXPECT_NEAR(static_cast<double>(geo.geoHeight), 3.34, 0.01);
    convert(0, -1000);
    EXPECT_NEAR(static_cast<double>(geo.geoHeight), -3.18, 0.01);
}
