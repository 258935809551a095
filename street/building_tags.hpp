#pragma once
// Our part of reading buildings and tunnels: from a feature's tags (OSM keys, or any
// field of a city's own data) to heights in metres and to the width of a way that
// covers the sky. No GDAL here, so the rules can be fuzzed and tested on their own.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trajix::street {

/// A feature's tags: key and value, in the order read. Small, so looked up linearly.
using Tags = std::vector<std::pair<std::string, std::string>>;

/// The value of key, or nullopt when the feature has none (an empty value counts as none).
std::optional<std::string_view> tagValue(const Tags& tags, std::string_view key);

/// Appends the pairs of the OSM driver's other_tags field ("key"=>"value","k2"=>"v2",
/// backslash escapes inside the quotes) to tags. Stops quietly at the first malformed
/// pair, keeping those before it; never throws.
void appendOtherTags(std::string_view text, Tags& tags);

/// A length as OSM and city data write it: "12", "12.5", "12 m", "12m", "40 ft",
/// "40'" (feet), with blanks around; finite and from 0 to 1000 m. nullopt otherwise.
std::optional<double> parseLength(std::string_view text);

/// A level count of `building:levels` or `building:min_level`: a number from 0 to 300.
std::optional<double> parseLevels(std::string_view text);

inline constexpr double metresPerLevel = 3.0;

struct HeightRules {
    double defaultHeight = 10;    ///< metres, for a building with no height and no levels
    std::string heightAttribute;  ///< a field holding the height in metres, tried first; empty: none
};

struct BuildingHeights {
    double height = 0;     ///< top above the ground, metres, > minHeight
    double minHeight = 0;  ///< bottom above the ground (overhangs, bridges), metres
};

/// The heights of a building: the height attribute, else `height`, else `building:levels`
/// times 3 m, else the default; the bottom from `min_height`, else `building:min_level`
/// times 3 m, else 0. A value that is not a height gives the reason instead (the caller
/// leaves the building out with a note).
struct HeightResult {
    std::optional<BuildingHeights> heights;
    std::string problem;
};
HeightResult buildingHeights(const Tags& tags, const HeightRules& rules);

/// Whether a polygon is a building: `building` (any value but "no") or `building:part`
/// (likewise). footprintsOnly says the layer has neither field, so every polygon in it is
/// a footprint (a city's own file).
enum class BuildingKind { none, outline, part };
BuildingKind buildingKind(const Tags& tags, bool footprintsOnly);

/// A way that takes the whole sky while the receiver runs along it: a `highway` with
/// `tunnel` yes or building_passage (any tunnel value but "no"), a way or area with
/// `covered=yes`, and with railTunnels a `railway` tunnel. Returns its width in metres
/// (from `width`, else by its road class), or nullopt for any other way.
std::optional<double> coveringWidth(const Tags& tags, bool railTunnels);

/// Whether an area covers the sky over itself (`covered=yes`, or a tunnel area).
bool coversArea(const Tags& tags);

}  // namespace trajix::street
