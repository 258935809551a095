#pragma once
// WGS-84 conversions between geodetic coordinates, earth-centred earth-fixed (ECEF)
// coordinates and a local east-north-up (ENU) frame, in extended precision. Angles in
// degrees, lengths in metres. Writers convert their start point with LatLongToECEF,
// copy ecef into ref, then for every sample call ENUtoECEF and ECEFToLatLong.

namespace trajix {

namespace wgs84 {
inline constexpr long double a = 6378137.0L;
inline constexpr long double f = 1.0L / 298.257223563L;
inline constexpr long double e2 = 2 * f - f * f;
inline constexpr long double b = a * (1 - f);
inline constexpr long double ep2 = f * (2 - f) / ((1 - f) * (1 - f));
// Pi to 16 digits, rounded to extended precision: 2.4e-16 below
// std::numbers::pi_v<long double>. Kept because every position written so far was
// converted with it: the closer value changes the last bit of most ECEF positions
// rounded to double, and those feed the signal generator's recordings.
inline constexpr long double pi = 3.141592653589793L;
}  // namespace wgs84

struct GeoState {
    long double geoLatitude = 0, geoLongitude = 0, geoHeight = 0;  ///< written by ECEFToLatLong
    long double ecefX = 0, ecefY = 0, ecefZ = 0;                   ///< written by LatLongToECEF and ENUtoECEF
    long double refX = 0, refY = 0, refZ = 0;                      ///< ECEF origin of the local frame
    long double localEast = 0, localNorth = 0, localUp = 0;        ///< written by ECEFtoENU
};

/// Sets ecefX/Y/Z from latitude and longitude (degrees) and height (metres).
void LatLongToECEF(GeoState& geo, long double latitude, long double longitude, long double height);

/// Sets geoLatitude, geoLongitude (degrees) and geoHeight (metres above the ellipsoid)
/// by the exact closed form. Undefined on the polar axis (X = Y = 0).
void ECEFToLatLong(GeoState& geo, long double x, long double y, long double z);

/// Sets localEast/North/Up of an ECEF point relative to the origin refX/Y/Z. The frame
/// is rotated by the origin's geocentric (not geodetic) latitude.
void ECEFtoENU(GeoState& geo, long double x, long double y, long double z);

/// Sets ecefX/Y/Z of a local point, the exact inverse of ECEFtoENU. As a side effect it
/// converts the origin with ECEFToLatLong, so geoLatitude/Longitude/Height hold the
/// origin when it returns.
void ENUtoECEF(GeoState& geo, long double east, long double north, long double up);

/// Sets the local frame's origin: LatLongToECEF, then copies ecef into ref.
void setLocalOrigin(GeoState& geo, long double latitude, long double longitude, long double height);

}  // namespace trajix
