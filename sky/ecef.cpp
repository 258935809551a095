#include "sky/ecef.hpp"

#include "geo/geodesy.hpp"

namespace trajix {

Ecef geodeticToEcef(double latitudeDeg, double longitudeDeg, double height)
{
    GeoState geo;
    LatLongToECEF(geo, latitudeDeg, longitudeDeg, height);
    return {static_cast<double>(geo.ecefX), static_cast<double>(geo.ecefY), static_cast<double>(geo.ecefZ)};
}

}  // namespace trajix
