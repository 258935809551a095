#pragma once
// Earth-centred, earth-fixed positions on WGS-84, shared by the receiver's path and the
// sky model.
namespace trajix {

struct Ecef {
    double x = 0, y = 0, z = 0;  ///< metres
};

/// WGS-84 geodetic (degrees, metres above the ellipsoid) to ECEF.
Ecef geodeticToEcef(double latitudeDeg, double longitudeDeg, double height);

}  // namespace trajix
