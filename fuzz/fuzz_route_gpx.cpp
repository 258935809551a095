// The GPX reader: any text either gives paths that each hold points within the degree
// ranges, or an Error naming the file. The chosen path's listing and heights must not
// crash either.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "common/error.hpp"
#include "route/path_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace trajix::route;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<RoutePath> paths;
    try {
        paths = readGpxPaths(text, "fuzz.gpx");
    } catch (const trajix::Error& e) {
        if (std::string_view(e.what()).find("fuzz.gpx") == std::string_view::npos) __builtin_trap();
        return 0;
    }
    if (paths.empty()) __builtin_trap();
    for (const RoutePath& path : paths) {
        if (path.points.empty() || (path.kind != "trk" && path.kind != "rte")) __builtin_trap();
        for (const KmlCoordinate& p : path.points)
            if (!(std::fabs(p.latitude) <= 90) || !(std::fabs(p.longitude) <= 180) ||
                (p.hasAltitude && !std::isfinite(p.altitude)))
                __builtin_trap();
    }
    (void)pathListing(paths);
    try {
        const RoutePath& chosen = choosePath(paths, paths.back().name, "fuzz.gpx");
        RouteState state;
        loadRawPoints(state, chosen.points, {});
        loadRawHeights(state, chosen.points, "fuzz.gpx");
        if (state.rawHeight.size() != state.rawCount + 1) __builtin_trap();
    } catch (const trajix::Error& e) {
        if (std::string_view(e.what()).find("fuzz.gpx") == std::string_view::npos) __builtin_trap();
    }
    return 0;
}
