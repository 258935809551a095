#pragma once
// Path files: KML (Google Earth's LineStrings, LinearRings and gx:Tracks), KMZ (zipped
// KML) and GPX (tracks and routes). Every reader gives the file's paths in document
// order; the route drives one of them, the first unless the user picks another.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "route/route.hpp"

namespace trajix::route {

/// One path of a file: its points in order, the name of its placemark, track or route
/// (empty when it has none), and what it was ("LineString", "LinearRing", "gx:Track",
/// "trk", "rte").
struct RoutePath {
    std::string name;
    std::string kind;
    std::vector<KmlCoordinate> points;
};

/// The most a KMZ may unpack to: the 4 GiB limit of the route's working memory.
inline constexpr std::uint64_t kmzUnpackLimit = std::uint64_t{4} << 30;

/// Every path of KML text: each LineString, LinearRing and gx:Track, named after its
/// Placemark. Coordinate lists of Points are skipped. Throws Error naming source when
/// the text holds no path, a path without a complete point, or a malformed coordinate.
std::vector<RoutePath> readKmlPaths(std::string_view text, std::string_view source);

/// Every path of GPX 1.0 or 1.1 text: each track (its segments joined in order) and
/// each route, with their points' elevations; waypoints and extensions are ignored, as
/// are namespaces and prefixes. Throws Error naming source (and the line) when there is
/// no track or route point, a point lacks lat or lon, or a number is bad or out of range.
std::vector<RoutePath> readGpxPaths(std::string_view text, std::string_view source);

/// The main KML document of a KMZ archive held in memory: doc.kml at the root, else the
/// first .kml at the root in archive order (as Google Earth reads it). Throws Error
/// naming source for a corrupt or encrypted archive, one without a KML at its root, or
/// a document that would unpack to more than limit bytes (declared or actually inflated).
std::string readKmzDocument(std::string_view archive, std::string_view source, std::uint64_t limit = kmzUnpackLimit);

/// The paths of a file's content, read as KMZ when it is a zip archive, as GPX when its
/// root element is gpx, else as KML. source names the file in messages.
std::vector<RoutePath> readRoutePaths(std::string_view content, std::string_view source);

/// readRoutePaths on the content of a file.
std::vector<RoutePath> readRoutePathFile(const std::filesystem::path& file);

/// The path a choice names: empty for the first, a 1-based index written in digits, or
/// the name of exactly one path. Throws Error naming source when it names none, or
/// several paths of that name.
const RoutePath& choosePath(const std::vector<RoutePath>& paths, std::string_view choice, std::string_view source);

/// The horizontal length of a path in metres, as the route measures it: the sum of the
/// distances between its points in the local frame of its first point.
double pathLength(const RoutePath& path);

/// One line per path for `route --list-paths`: index, name, point count and length in
/// metres with one decimal, separated by tabs (tabs and line breaks in a name are
/// shown as blanks).
std::string pathListing(const std::vector<RoutePath>& paths);

/// Fills rawHeight (1..rawCount, 32-bit floats like the other raw coordinates) from
/// the points' altitudes; a point without one takes it linearly from its neighbours
/// along the path, the ends from the nearest point that has one. Throws Error naming
/// source when no point carries a height.
void loadRawHeights(RouteState& state, const std::vector<KmlCoordinate>& points, std::string_view source);

}  // namespace trajix::route
