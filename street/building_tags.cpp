#include "street/building_tags.hpp"

#include <cmath>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"

namespace trajix::street {

namespace {

constexpr double metresPerFoot = 0.3048;
constexpr double highestBuilding = 1000;  // metres: above this a value is a typing error

bool isNo(std::string_view value)
{
    return value == "no" || value == "false" || value == "0";
}

std::string quoted(std::string_view value)
{
    return "'" + visibleText(value) + "'";
}

}  // namespace

std::optional<std::string_view> tagValue(const Tags& tags, std::string_view key)
{
    for (const auto& [k, v] : tags)
        if (k == key && !v.empty()) return std::string_view(v);
    return std::nullopt;
}

void appendOtherTags(std::string_view text, Tags& tags)
{
    std::size_t at = 0;
    // One quoted string with backslash escapes; false when the text breaks off.
    auto quotedString = [&](std::string& out) {
        if (at >= text.size() || text[at] != '"') return false;
        ++at;
        while (at < text.size()) {
            const char c = text[at++];
            if (c == '"') return true;
            if (c == '\\') {
                if (at >= text.size()) return false;
                out += text[at++];
            } else {
                out += c;
            }
        }
        return false;
    };
    while (at < text.size()) {
        std::string key, value;
        if (!quotedString(key)) return;
        if (text.substr(at, 2) != "=>") return;
        at += 2;
        if (!quotedString(value)) return;
        tags.emplace_back(std::move(key), std::move(value));
        if (at < text.size() && text[at] != ',') return;
        ++at;
    }
}

std::optional<double> parseLength(std::string_view text)
{
    text = trimBlanks(text);
    double factor = 1;
    auto dropSuffix = [&](std::string_view suffix, double suffixFactor) {
        if (text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix) {
            text = trimBlanks(text.substr(0, text.size() - suffix.size()));
            factor = suffixFactor;
            return true;
        }
        return false;
    };
    dropSuffix("m", 1) || dropSuffix("ft", metresPerFoot) || dropSuffix("'", metresPerFoot);
    // A bare sign, exponent or hex would pass strtod's wider grammar; a length is digits
    // with at most one point.
    if (text.empty()) return std::nullopt;
    int points = 0;
    for (const char c : text) {
        if (c == '.') {
            if (++points > 1) return std::nullopt;
        } else if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    if (text == ".") return std::nullopt;
    double value = 0;
    if (!tryParseDouble(text, value)) return std::nullopt;
    value *= factor;
    if (!std::isfinite(value) || value > highestBuilding) return std::nullopt;
    return value;
}

std::optional<double> parseLevels(std::string_view text)
{
    text = trimBlanks(text);
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos) return std::nullopt;
    double value = 0;
    if (!tryParseDouble(text, value) || !std::isfinite(value) || value > 300) return std::nullopt;
    return value;
}

HeightResult buildingHeights(const Tags& tags, const HeightRules& rules)
{
    HeightResult result;
    BuildingHeights heights;
    std::optional<double> top;
    std::string topSource;
    auto fromLength = [&](std::string_view key) -> bool {
        const auto value = tagValue(tags, key);
        if (!value) return true;
        top = parseLength(*value);
        if (!top) {
            result.problem = fmt::format("{} {} is not a height", key, quoted(*value));
            return false;
        }
        topSource = key;
        return true;
    };
    if (!rules.heightAttribute.empty() && !fromLength(rules.heightAttribute)) return result;
    if (!top && !fromLength("height")) return result;
    if (!top) {
        if (const auto levels = tagValue(tags, "building:levels")) {
            const auto count = parseLevels(*levels);
            if (!count) {
                result.problem = fmt::format("building:levels {} is not a level count", quoted(*levels));
                return result;
            }
            top = *count * metresPerLevel;
            topSource = "building:levels";
        }
    }
    heights.height = top ? *top : rules.defaultHeight;

    if (const auto bottom = tagValue(tags, "min_height")) {
        const auto value = parseLength(*bottom);
        if (!value) {
            result.problem = fmt::format("min_height {} is not a height", quoted(*bottom));
            return result;
        }
        heights.minHeight = *value;
    } else if (const auto levels = tagValue(tags, "building:min_level")) {
        const auto count = parseLevels(*levels);
        if (!count) {
            result.problem = fmt::format("building:min_level {} is not a level count", quoted(*levels));
            return result;
        }
        heights.minHeight = *count * metresPerLevel;
    }
    if (!(heights.height > heights.minHeight)) {
        result.problem = fmt::format("its top ({} m{}) is not above its bottom ({} m)", heights.height,
                                     topSource.empty() ? "" : " from " + topSource, heights.minHeight);
        return result;
    }
    result.heights = heights;
    return result;
}

BuildingKind buildingKind(const Tags& tags, bool footprintsOnly)
{
    if (const auto part = tagValue(tags, "building:part"); part && !isNo(*part)) return BuildingKind::part;
    if (const auto building = tagValue(tags, "building"); building && !isNo(*building)) return BuildingKind::outline;
    return footprintsOnly ? BuildingKind::outline : BuildingKind::none;
}

namespace {

/// Widths of ways without a `width` tag, by class: two lanes of 3.5 m and more for the
/// big roads, one lane and a margin for service roads, a double track for railways.
double widthByClass(std::string_view highway, bool railway)
{
    if (railway) return 9;
    struct ClassWidth {
        std::string_view name;
        double width;
    };
    static constexpr ClassWidth widths[] = {
        {"motorway", 14},     {"trunk", 14},       {"primary", 12},      {"secondary", 10},     {"tertiary", 8},
        {"motorway_link", 7}, {"trunk_link", 7},   {"primary_link", 7},  {"secondary_link", 7}, {"tertiary_link", 7},
        {"residential", 7},   {"unclassified", 7}, {"living_street", 6}, {"service", 5},        {"pedestrian", 5},
        {"footway", 3},       {"cycleway", 3},     {"path", 3},          {"steps", 3},          {"track", 4},
    };
    for (const auto& entry : widths)
        if (entry.name == highway) return entry.width;
    return 6;
}

}  // namespace

std::optional<double> coveringWidth(const Tags& tags, bool railTunnels)
{
    const auto highway = tagValue(tags, "highway");
    const auto railway = tagValue(tags, "railway");
    const auto tunnel = tagValue(tags, "tunnel");
    const auto covered = tagValue(tags, "covered");
    const bool inTunnel = tunnel && !isNo(*tunnel);
    const bool isCovered = covered && *covered == "yes";
    bool covers = false;
    bool rail = false;
    if (highway && (inTunnel || isCovered)) covers = true;
    if (!covers && railway && railTunnels && (inTunnel || isCovered)) covers = rail = true;
    if (!covers && isCovered && !highway && !railway) covers = true;
    if (!covers) return std::nullopt;
    if (const auto width = tagValue(tags, "width"))
        if (const auto metres = parseLength(*width); metres && *metres > 0.5 && *metres < 200) return *metres;
    return widthByClass(highway ? *highway : std::string_view(), rail);
}

bool coversArea(const Tags& tags)
{
    const auto covered = tagValue(tags, "covered");
    const auto tunnel = tagValue(tags, "tunnel");
    return (covered && *covered == "yes") || (tunnel && !isNo(*tunnel));
}

}  // namespace trajix::street
