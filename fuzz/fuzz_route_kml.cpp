// The KML reader: any text either gives a non-empty list of points within the degree
// ranges or an Error. Short paths also go through the geometry steps up to the corner
// list, which must not crash on repeated, folded back or polar points.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "common/error.hpp"
#include "route/route.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace trajix::route;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<KmlCoordinate> points;
    try {
        points = readKmlCoordinates(text, "fuzz.kml");
    } catch (const trajix::Error& e) {
        if (std::string_view(e.what()).find("fuzz.kml") == std::string_view::npos) __builtin_trap();
        return 0;
    }
    if (points.empty()) __builtin_trap();
    for (const KmlCoordinate& p : points)
        if (!(std::fabs(p.latitude) <= 90) || !(std::fabs(p.longitude) <= 360)) __builtin_trap();
    try {
        RouteState state;
        RouteParameters parameters;
        applyParameters(state, parameters, false);
        loadRawPoints(state, points, {});
        // Long paths densify into millions of points; the reader is what is fuzzed here.
        if (densifiedPointCount(state) > 20000) return 0;
        trajix::NullProgress progress;
        densifyPath(state, progress);
        smoothPath(state, progress, {});
        calculateDistances(state, progress);
        calculateDeflections(state, progress);
        findCorners(state, progress);
        makeCornersFeasible(state);
    } catch (const trajix::Error&) {
    }
    return 0;
}
