// The tracks and routes of a GPX file (1.0 or 1.1).
#include <cmath>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "route/path_file.hpp"
#include "route/xml_tokenizer.hpp"

namespace trajix::route {

namespace {

// A number of a point from its attribute or element text; where() names the point.
template <typename Where>
double pointNumber(std::string_view text, std::string_view what, const Where& where)
{
    double value = 0;
    if (!tryParseDouble(xmlTrim(text), value))
        throw Error(fmt::format("'{}' is not a valid floating point value ({} of {})", text, what, where()));
    return value;
}

}  // namespace

std::vector<RoutePath> readGpxPaths(std::string_view text, std::string_view source)
{
    XmlTokenizer tokenizer(text, source);
    std::vector<RoutePath> paths;
    std::vector<std::string_view> open;  // the names of the open elements
    // The open track or route and the depth it began at (0: none).
    std::size_t pathDepth = 0;
    // The open track or route point and its depth (0: none); its elevation text.
    std::size_t pointDepth = 0;
    std::string_view pointName;
    std::size_t pointCount = 0;  // trkpt and rtept so far, for messages
    std::size_t pointOffset = 0;
    // Where the open point lies, for messages (the line is counted only then).
    const auto pointWhere = [&] {
        return fmt::format("{} {} on line {} of {}", pointName, pointCount, tokenizer.lineOf(pointOffset), source);
    };
    std::size_t extensionsDepth = 0;
    std::size_t waypoints = 0;
    enum class Gather { None, Name, Elevation } gather = Gather::None;
    std::size_t gatherDepth = 0;
    std::string collected;

    const auto closeElement = [&] {
        const std::size_t depth = open.size();
        if (gather != Gather::None && depth == gatherDepth) {
            if (gather == Gather::Name && pathDepth > 0) {
                paths.back().name = xmlTrim(xmlDecode(collected));
            } else if (gather == Gather::Elevation && pointDepth > 0) {
                // An empty <ele/> is as good as none.
                if (!xmlTrim(collected).empty()) {
                    KmlCoordinate& point = paths.back().points.back();
                    point.altitude = pointNumber(collected, "ele", pointWhere);
                    point.hasAltitude = true;
                }
            }
            gather = Gather::None;
            collected.clear();
        }
        if (depth == pointDepth) pointDepth = 0;
        if (depth == pathDepth) {
            pathDepth = 0;
            if (paths.back().points.empty()) paths.pop_back();  // a track or route without points
        }
        if (depth == extensionsDepth) extensionsDepth = 0;
        open.pop_back();
    };

    for (;;) {
        const XmlToken token = tokenizer.next();
        if (token.kind == XmlToken::Kind::End) break;
        if (token.kind == XmlToken::Kind::Text) {
            if (gather != Gather::None) collected += token.text;
            continue;
        }
        if (token.kind == XmlToken::Kind::EndTag) {
            std::size_t match = open.size();
            while (match > 0 && open[match - 1] != token.name) --match;
            if (match == 0) continue;  // an end tag that matches no open element
            while (open.size() >= match) closeElement();
            continue;
        }
        open.push_back(token.name);
        const std::size_t depth = open.size();
        const std::string_view name = token.name;
        if (extensionsDepth > 0 || gather != Gather::None) continue;  // nothing inside is looked into
        if (name == "extensions") {
            extensionsDepth = depth;
        } else if (name == "wpt") {
            ++waypoints;
        } else if ((name == "trk" || name == "rte") && pathDepth == 0) {
            pathDepth = depth;
            paths.push_back({});
            paths.back().kind = name;
        } else if (name == "name" && pathDepth > 0 && depth == pathDepth + 1) {
            gather = Gather::Name;
        } else if ((name == "trkpt" || name == "rtept") && pathDepth > 0 && pointDepth == 0) {
            ++pointCount;
            pointName = name;
            pointOffset = token.offset;
            const auto lat = xmlAttribute(token.attributes, "lat");
            const auto lon = xmlAttribute(token.attributes, "lon");
            if (!lat || !lon) throw Error(fmt::format("{} has no {} attribute", pointWhere(), !lat ? "lat" : "lon"));
            KmlCoordinate point;
            point.latitude = pointNumber(*lat, "lat", pointWhere);
            point.longitude = pointNumber(*lon, "lon", pointWhere);
            if (std::fabs(point.latitude) > 90)
                throw Error(fmt::format("latitude {} of {} is beyond +-90 degrees", *lat, pointWhere()));
            if (std::fabs(point.longitude) > 180)
                throw Error(fmt::format("longitude {} of {} is beyond +-180 degrees", *lon, pointWhere()));
            paths.back().points.push_back(point);
            pointDepth = depth;
        } else if (name == "ele" && pointDepth > 0 && depth == pointDepth + 1) {
            gather = Gather::Elevation;
        }
        if (gather != Gather::None) gatherDepth = depth;
    }
    while (!open.empty()) closeElement();  // elements left open at the end of the text
    if (paths.empty()) {
        const std::string found =
            waypoints > 0 ? fmt::format("; it holds {} waypoint(s) (wpt), which are not a path", waypoints) : "";
        throw Error(fmt::format("{} holds no track or route point (trkpt or rtept){}", source, found));
    }
    return paths;
}

}  // namespace trajix::route
