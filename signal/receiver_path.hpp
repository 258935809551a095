#pragma once
// The receiver's path for the signal generator: the GGA fixes of an NMEA file as ECEF
// points in time, interpolated smoothly between fixes.
#include <filesystem>
#include <string_view>
#include <vector>

#include "sky/ecef.hpp"

namespace trajix {

/// The comma-separated fields of an NMEA sentence text, the address first.
std::vector<std::string_view> splitFields(std::string_view text);

struct PathFix {
    double time = 0;  ///< seconds after the first fix
    Ecef position;
};

class ReceiverPath {
public:
    explicit ReceiverPath(std::vector<PathFix> fixes);

    /// Reads the GGA sentences with a fix (quality above 0) of an NMEA file: latitude,
    /// longitude and height (altitude plus geoid separation, metres above the
    /// ellipsoid), times from their UTC fields relative to the first fix (midnight
    /// wraps). A sentence whose checksum is wrong, a field that is not a number, or a time
    /// before the previous fix ends the read with a message naming the file and line; a
    /// file without any fix too.
    static ReceiverPath fromNmea(const std::filesystem::path& nmeaFile);

    /// Position at t seconds after the first fix: a cubic (Catmull-Rom) curve through
    /// the fixes, the first fix before it and the last after it. Safe to call from
    /// several threads at once.
    Ecef positionAt(double t) const;

    const std::vector<PathFix>& fixes() const { return fixes_; }

private:
    std::vector<PathFix> fixes_;
};

}  // namespace trajix
