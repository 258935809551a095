// The coordinate list of a KML path.
#include <cmath>
#include <string>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "route/route.hpp"

namespace trajix::route {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The element name of a tag starting at text[lt] == '<', without a namespace prefix
// ("gx:Track" gives "Track"); empty for closing tags, comments and declarations.
std::string_view tagName(std::string_view text, std::size_t lt)
{
    std::size_t begin = lt + 1;
    if (begin >= text.size() || text[begin] == '/' || text[begin] == '!' || text[begin] == '?') return {};
    std::size_t end = begin;
    while (end < text.size() && !isBlank(text[end]) && text[end] != '>' && text[end] != '/') ++end;
    std::string_view name = text.substr(begin, end - begin);
    if (const auto colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return name;
}

// One tuple of numbers (longitude, latitude, optional altitude) as point n (1-based).
// Returns false for the cut-off last point that is dropped.
bool parseTuple(const std::string& tuple, std::size_t n, bool last, std::string_view source, KmlCoordinate& point)
{
    std::string_view numbers[3];
    std::size_t count = 0, start = 0;
    for (;;) {
        const auto comma = tuple.find(',', start);
        if (count < 3)
            numbers[count] =
                std::string_view(tuple).substr(start, comma == std::string::npos ? comma : comma - start);
        ++count;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (count == 1 && last) return false;  // a cut-off last point
    if (count != 2 && count != 3)
        throw Error(
            fmt::format("coordinate '{}' (point {}) of {} does not hold a longitude and a latitude", tuple, n, source));
    double values[2];
    for (int k = 0; k < 2; ++k) {
        try {
            values[k] = parseDouble(numbers[k]);
        } catch (const Error& e) {
            throw Error(fmt::format("{} (point {} of {})", e.what(), n, source));
        }
    }
    if (count == 3 && !numbers[2].empty()) {
        double ignoredAltitude;
        if (!tryParseDouble(numbers[2], ignoredAltitude))
            throw Error(
                fmt::format("'{}' is not a valid floating point value (point {} of {})", numbers[2], n, source));
    }
    if (std::fabs(values[1]) > 90 || std::fabs(values[0]) > 360)
        throw Error(fmt::format("coordinate '{}' (point {}) of {} is not a longitude and latitude in degrees", tuple,
                                n, source));
    point = {values[0], values[1]};
    return true;
}

std::vector<KmlCoordinate> parseTuples(std::string_view list, std::string_view source)
{
    // Blanks next to a comma belong to the tuple; other blank runs separate tuples. Each
    // tuple is read as soon as the next one begins (only the last may be cut off), so a
    // list of millions of points never holds them all as texts.
    std::vector<KmlCoordinate> points;
    std::string current, pending;
    std::size_t taken = 0;
    const auto take = [&](bool last) {
        KmlCoordinate point;
        if (parseTuple(pending, ++taken, last, source, point)) points.push_back(point);
    };
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (!isBlank(c)) {
            current += c;
            continue;
        }
        std::size_t next = i;
        while (next < list.size() && isBlank(list[next])) ++next;
        const bool afterComma = !current.empty() && current.back() == ',';
        const bool beforeComma = next < list.size() && list[next] == ',';
        if (!afterComma && !beforeComma && !current.empty()) {
            if (!pending.empty()) take(false);
            pending.swap(current);
            current.clear();
        }
        i = next - 1;
    }
    if (!current.empty()) {
        if (!pending.empty()) take(false);
        pending.swap(current);
    }
    if (!pending.empty()) take(true);
    if (points.empty()) throw Error(fmt::format("the path in {} holds no complete point", source));
    return points;
}

}  // namespace

std::vector<KmlCoordinate> readKmlCoordinates(std::string_view text, std::string_view source)
{
    if (text.substr(0, 4) == std::string_view("PK\x03\x04", 4))
        throw Error(fmt::format("{} is a KMZ (zipped KML) file, which cannot be read yet; save the path as KML instead",
                                source));
    constexpr std::string_view openTag = "<coordinates>";
    constexpr std::string_view closeTag = "</coordinates>";
    enum class Geometry { None, Path, Point, Other } geometry = Geometry::None;
    int skippedPoints = 0, skippedOther = 0;
    bool track = false;
    std::size_t pos = 0;
    while ((pos = text.find('<', pos)) != std::string_view::npos) {
        const std::string_view name = tagName(text, pos);
        if (name == "LineString" || name == "LinearRing") {
            geometry = Geometry::Path;
        } else if (name == "Point") {
            geometry = Geometry::Point;
        } else if (name == "Track" || name == "MultiTrack") {
            track = true;
            geometry = Geometry::Other;
        } else if (name == "coordinates") {
            if (geometry == Geometry::Path) {
                const auto tagEnd = text.find('>', pos);
                const auto begin = tagEnd == std::string_view::npos ? text.size() : tagEnd + 1;
                const auto end = text.find(closeTag, begin);
                if (end == std::string_view::npos)
                    throw Error(fmt::format("the coordinate list of the path in {} has no {}", source, closeTag));
                return parseTuples(text.substr(begin, end - begin), source);
            }
            if (geometry == Geometry::Point)
                ++skippedPoints;
            else
                ++skippedOther;
        }
        ++pos;
    }
    std::string found;
    if (skippedPoints > 0) found += fmt::format("{} Point coordinate list(s)", skippedPoints);
    if (skippedOther > 0)
        found += fmt::format("{}{} coordinate list(s) outside a path", found.empty() ? "" : ", ", skippedOther);
    if (track) found += fmt::format("{}a gx:Track", found.empty() ? "" : ", ");
    if (found.empty()) found = "no <coordinates> list";
    throw Error(fmt::format("{} holds no path (LineString or LinearRing) with {}: found {}", source, openTag, found));
}

}  // namespace trajix::route
