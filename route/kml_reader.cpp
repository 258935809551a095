// The paths of a KML document: LineStrings, LinearRings and gx:Tracks.
#include <cmath>
#include <string>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "route/path_file.hpp"
#include "route/route.hpp"
#include "route/xml_tokenizer.hpp"

namespace trajix::route {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Where a point lies, for messages: the first path is named by the file alone, as it
// is the one the route drives unless another is chosen.
std::string pathWhere(std::size_t pathNumber, std::string_view source)
{
    return pathNumber <= 1 ? std::string(source) : fmt::format("path {} of {}", pathNumber, source);
}

// Longitude, latitude and optional altitude texts as point n of a path.
KmlCoordinate makePoint(std::string_view tuple, const std::string_view* numbers, std::size_t count, std::size_t n,
                        const std::string& where)
{
    double values[2];
    for (int k = 0; k < 2; ++k) {
        try {
            values[k] = parseDouble(numbers[k]);
        } catch (const Error& e) {
            throw Error(fmt::format("{} (point {} of {})", e.what(), n, where));
        }
    }
    KmlCoordinate point{values[0], values[1]};
    if (count == 3 && !numbers[2].empty()) {
        if (!tryParseDouble(numbers[2], point.altitude))
            throw Error(fmt::format("'{}' is not a valid floating point value (point {} of {})", numbers[2], n, where));
        point.hasAltitude = true;
    }
    if (std::fabs(values[1]) > 90 || std::fabs(values[0]) > 360)
        throw Error(fmt::format("coordinate '{}' (point {}) of {} is not a longitude and latitude in degrees", tuple, n,
                                where));
    return point;
}

// One tuple of numbers (longitude, latitude, optional altitude) as point n (1-based).
// Returns false for the cut-off last point that is dropped.
bool parseTuple(const std::string& tuple, std::size_t n, bool last, const std::string& where, KmlCoordinate& point)
{
    std::string_view numbers[3];
    std::size_t count = 0, start = 0;
    for (;;) {
        const auto comma = tuple.find(',', start);
        if (count < 3)
            numbers[count] = std::string_view(tuple).substr(start, comma == std::string::npos ? comma : comma - start);
        ++count;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (count == 1 && last) return false;  // a cut-off last point
    if (count != 2 && count != 3)
        throw Error(
            fmt::format("coordinate '{}' (point {}) of {} does not hold a longitude and a latitude", tuple, n, where));
    point = makePoint(tuple, numbers, count, n, where);
    return true;
}

void parseTuples(std::string_view list, const std::string& where, std::vector<KmlCoordinate>& points)
{
    // Blanks next to a comma belong to the tuple; other blank runs separate tuples. Each
    // tuple is read as soon as the next one begins (only the last may be cut off), so a
    // list of millions of points never holds them all as texts.
    std::string current, pending;
    std::size_t taken = 0;
    const auto take = [&](bool last) {
        KmlCoordinate point;
        if (parseTuple(pending, ++taken, last, where, point)) points.push_back(point);
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
}

// A gx:coord: "longitude latitude altitude", separated by blanks.
void parseTrackCoord(std::string_view text, std::size_t n, const std::string& where, std::vector<KmlCoordinate>& points)
{
    const std::string_view coord = xmlTrim(text);
    std::string_view numbers[3];
    std::size_t count = 0, i = 0;
    while (i < coord.size()) {
        while (i < coord.size() && isBlank(coord[i])) ++i;
        const std::size_t begin = i;
        while (i < coord.size() && !isBlank(coord[i])) ++i;
        if (i == begin) break;
        if (count < 3) numbers[count] = coord.substr(begin, i - begin);
        ++count;
    }
    if (count != 2 && count != 3)
        throw Error(fmt::format("gx:coord '{}' (point {}) of {} does not hold a longitude, a latitude and an altitude",
                                coord, n, where));
    points.push_back(makePoint(coord, numbers, count, n, where));
}

// Character data of one element, gathered from its text and CDATA pieces without a
// copy when it comes in one piece.
class TextCollector {
public:
    void add(std::string_view piece)
    {
        if (pieces_ == 0) {
            first_ = piece;
        } else {
            if (pieces_ == 1) joined_.assign(first_);
            joined_ += piece;
        }
        ++pieces_;
    }
    std::string_view text() const { return pieces_ > 1 ? std::string_view(joined_) : first_; }
    void clear()
    {
        pieces_ = 0;
        first_ = {};
        joined_.clear();
    }

private:
    std::size_t pieces_ = 0;
    std::string_view first_;
    std::string joined_;
};

enum class Geometry { None, Path, Point, Track };

}  // namespace

std::vector<RoutePath> readKmlPaths(std::string_view text, std::string_view source)
{
    if (text.substr(0, 4) == std::string_view("PK\x03\x04", 4))
        throw Error(fmt::format("{} is a KMZ (zipped KML) file; read it as KMZ", source));
    XmlTokenizer tokenizer(text, source);
    std::vector<RoutePath> paths;
    std::vector<std::string_view> open;  // the names of the open elements
    // The innermost open geometry and the depth of open elements where it began.
    Geometry geometry = Geometry::None;
    std::size_t geometryDepth = 0;
    // The open placemark: its depth, name, and the paths found in it so far.
    std::size_t placemarkDepth = 0;
    std::string placemarkName;
    std::size_t placemarkFirstPath = 0;
    // The element whose character data is being gathered (coordinates, a gx:coord or a
    // placemark's name) and its depth.
    enum class Gather { None, Coordinates, Coord, Name } gather = Gather::None;
    std::size_t gatherDepth = 0;
    std::size_t gatherOffset = 0;
    TextCollector collected;
    int skippedPoints = 0, skippedOther = 0;

    // Path number (1-based) must hold a point.
    const auto finishPath = [&](std::size_t number) {
        const RoutePath& path = paths[number - 1];
        if (path.points.empty()) {
            if (paths.size() <= 1) throw Error(fmt::format("the path in {} holds no complete point", source));
            throw Error(fmt::format("path {} ({}) in {} holds no complete point", number, path.kind, source));
        }
    };
    const auto beginPath = [&](std::string_view kind) {
        RoutePath path;
        path.kind = kind;
        if (placemarkDepth > 0) path.name = placemarkName;
        paths.push_back(std::move(path));
    };
    const auto finishGather = [&] {
        switch (gather) {
            case Gather::Coordinates:
                if (geometry == Geometry::Path) {
                    beginPath(open[geometryDepth - 1] == "LinearRing" ? "LinearRing" : "LineString");
                    parseTuples(collected.text(), pathWhere(paths.size(), source), paths.back().points);
                    finishPath(paths.size());
                } else if (geometry == Geometry::Point) {
                    ++skippedPoints;
                } else {
                    ++skippedOther;
                }
                break;
            case Gather::Coord:
                if (geometry == Geometry::Track && !paths.empty())
                    parseTrackCoord(collected.text(), paths.back().points.size() + 1, pathWhere(paths.size(), source),
                                    paths.back().points);
                break;
            case Gather::Name:
                placemarkName = xmlTrim(xmlDecode(collected.text()));
                for (std::size_t k = placemarkFirstPath; k < paths.size(); ++k) paths[k].name = placemarkName;
                break;
            case Gather::None:
                break;
        }
        gather = Gather::None;
        collected.clear();
    };
    const auto closeElement = [&] {
        const std::size_t depth = open.size();
        if (gather != Gather::None && depth == gatherDepth) finishGather();
        if (geometry != Geometry::None && depth == geometryDepth) {
            if (geometry == Geometry::Track) finishPath(paths.size());
            geometry = Geometry::None;
        }
        if (depth == placemarkDepth) placemarkDepth = 0;
        open.pop_back();
    };

    for (;;) {
        const XmlToken token = tokenizer.next();
        if (token.kind == XmlToken::Kind::End) break;
        if (token.kind == XmlToken::Kind::Text) {
            if (gather != Gather::None) collected.add(token.text);
            continue;
        }
        if (token.kind == XmlToken::Kind::EndTag) {
            // Close up to the matching open element; an end tag that matches none is
            // ignored.
            std::size_t match = open.size();
            while (match > 0 && open[match - 1] != token.name) --match;
            if (match == 0) continue;
            while (open.size() >= match) closeElement();
            continue;
        }
        open.push_back(token.name);
        const std::size_t depth = open.size();
        const std::string_view name = token.name;
        if (gather != Gather::None) continue;  // markup inside gathered text is not looked into
        if (name == "Placemark") {
            placemarkDepth = depth;
            placemarkName.clear();
            placemarkFirstPath = paths.size();
        } else if (name == "name" && placemarkDepth > 0 && depth == placemarkDepth + 1) {
            gather = Gather::Name;
        } else if (name == "LineString" || name == "LinearRing") {
            geometry = Geometry::Path;
            geometryDepth = depth;
        } else if (name == "Point") {
            geometry = Geometry::Point;
            geometryDepth = depth;
        } else if (name == "Track") {
            geometry = Geometry::Track;
            geometryDepth = depth;
            beginPath("gx:Track");
        } else if (name == "coordinates") {
            gather = Gather::Coordinates;
        } else if (name == "coord" && geometry == Geometry::Track) {
            gather = Gather::Coord;
        }
        if (gather != Gather::None) {
            gatherDepth = depth;
            gatherOffset = token.offset;
        }
    }
    if (gather == Gather::Coordinates && geometry == Geometry::Path)
        throw Error(fmt::format("the coordinate list of the path in {} has no </coordinates> (begun on line {})",
                                source, tokenizer.lineOf(gatherOffset)));
    if (gather == Gather::Coord)
        throw Error(fmt::format("the gx:coord on line {} of {} has no end", tokenizer.lineOf(gatherOffset), source));
    while (!open.empty()) closeElement();  // elements left open at the end of the text
    // A track whose element held another geometry was never finished by its own end tag.
    for (std::size_t number = 1; number <= paths.size(); ++number) finishPath(number);
    if (!paths.empty()) return paths;

    std::string found;
    if (skippedPoints > 0) found += fmt::format("{} Point coordinate list(s)", skippedPoints);
    if (skippedOther > 0)
        found += fmt::format("{}{} coordinate list(s) outside a path", found.empty() ? "" : ", ", skippedOther);
    if (found.empty()) found = "no <coordinates> list";
    throw Error(fmt::format("{} holds no path (LineString, LinearRing or gx:Track): found {}", source, found));
}

std::vector<KmlCoordinate> readKmlCoordinates(std::string_view text, std::string_view source)
{
    return std::move(readKmlPaths(text, source).front().points);
}

}  // namespace trajix::route
