#pragma once
// Reads buildings and the ways that cover the sky from any vector file GDAL/OGR opens
// (OSM XML and PBF, GeoJSON, Shapefile, GeoPackage...), in any coordinate system PROJ
// knows, transformed to WGS-84. Features are streamed to a sink one at a time, so a
// file of a million buildings is never held whole.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "street/building_tags.hpp"

namespace trajix::street {

struct LonLat {
    double lon = 0, lat = 0;  ///< degrees, WGS-84
};
/// A closed ring without its repeated last point, at least 3 points.
using Ring = std::vector<LonLat>;

struct BuildingFootprint {
    std::vector<Ring> rings;  ///< the outer ring first, then its holes
    BuildingHeights heights;
    bool part = false;  ///< an OSM building:part (its outline is dropped when parts lie in it)
};

/// A way along which the sky is covered (a road tunnel, a covered way), or an area.
struct CoveredWay {
    std::vector<LonLat> line;  ///< at least 2 points
    double width = 0;          ///< metres
};
struct CoveredArea {
    std::vector<Ring> rings;
};

class StreetSink {
public:
    virtual ~StreetSink() = default;
    virtual void building(BuildingFootprint&& building) = 0;
    virtual void coveredWay(CoveredWay&& way) = 0;
    virtual void coveredArea(CoveredArea&& area) = 0;
};

struct StreetReadOptions {
    HeightRules heights;
    bool railTunnels = false;  ///< railway tunnels cover the sky too (a receiver on a train)
};

struct StreetReadSummary {
    std::size_t buildings = 0;  ///< footprints given to the sink (one per polygon)
    std::size_t coveredWays = 0, coveredAreas = 0;
    std::size_t leftOut = 0;         ///< buildings and rings left out with a note
    std::vector<std::string> notes;  ///< the first notes, each naming the file and feature
    std::size_t notesDropped = 0;    ///< notes beyond those kept
};

/// Reads file into sink. Throws Error naming the file when GDAL cannot open it (with
/// GDAL's own message), when its coordinate system is one PROJ cannot transform to
/// WGS-84 (naming it), or when it holds no building. A building whose height is not a
/// height, and a ring that does not close or crosses itself, are left out with a note.
StreetReadSummary readStreet(const std::filesystem::path& file, const StreetReadOptions& options, StreetSink& sink);

}  // namespace trajix::street
