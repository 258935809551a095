// Path files: what kind a file is, which of its paths is driven, and its heights.
#include "route/path_file.hpp"

#include <cmath>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "route/xml_tokenizer.hpp"

namespace trajix::route {

namespace {

bool isZip(std::string_view content)
{
    // A local file header, or the end record of an empty archive.
    return content.starts_with(std::string_view("PK\x03\x04", 4)) ||
           content.starts_with(std::string_view("PK\x05\x06", 4));
}

std::string lowerExtension(std::string_view source)
{
    std::string extension = std::filesystem::path(source).extension().string();
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

// The local name of the first element of XML text; empty when there is none.
std::string_view rootElement(std::string_view text, std::string_view source)
{
    XmlTokenizer tokenizer(text, source);
    for (;;) {
        const XmlToken token = tokenizer.next();
        if (token.kind == XmlToken::Kind::End) return {};
        if (token.kind == XmlToken::Kind::StartTag) return token.name;
    }
}

// Heights beyond this are no place on or above the Earth a route could be driven.
constexpr double maxHeight = 1e6;

double horizontal(double dx, double dy)
{
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

std::vector<RoutePath> readRoutePaths(std::string_view content, std::string_view source)
{
    const std::string extension = lowerExtension(source);
    if (isZip(content)) return readKmlPaths(readKmzDocument(content, source), source);
    if (extension == ".kmz") throw Error(fmt::format("{} is not a KMZ (zip) archive", source));
    const std::string_view root = rootElement(content, source);
    if (root == "gpx" || (root.empty() && extension == ".gpx")) return readGpxPaths(content, source);
    return readKmlPaths(content, source);
}

std::vector<RoutePath> readRoutePathFile(const std::filesystem::path& file)
{
    const std::string content = readFile(file);
    return readRoutePaths(content, file.string());
}

const RoutePath& choosePath(const std::vector<RoutePath>& paths, std::string_view choice, std::string_view source)
{
    if (paths.empty()) throw Error(fmt::format("{} holds no path", source));
    if (choice.empty()) return paths.front();
    const bool digits = choice.find_first_not_of("0123456789") == std::string_view::npos;
    if (digits) {
        const std::string_view number = choice.substr(std::min(choice.find_first_not_of('0'), choice.size()));
        if (number.empty() || number.size() > 9 || std::stoul(std::string(number)) > paths.size())
            throw Error(fmt::format("{} holds {} path(s): there is no path {}", source, paths.size(), choice));
        return paths[std::stoul(std::string(number)) - 1];
    }
    std::vector<std::size_t> matches;
    for (std::size_t k = 0; k < paths.size(); ++k)
        if (paths[k].name == choice) matches.push_back(k + 1);
    if (matches.size() == 1) return paths[matches.front() - 1];
    if (matches.empty()) {
        std::string names;
        for (std::size_t k = 0; k < paths.size() && k < 10; ++k)
            names += fmt::format("{}{} '{}'", k == 0 ? "" : ", ", k + 1, paths[k].name);
        if (paths.size() > 10) names += ", ...";
        throw Error(fmt::format("{} holds no path named '{}' (its paths: {})", source, choice, names));
    }
    std::string numbers;
    for (const std::size_t k : matches) numbers += fmt::format("{}{}", numbers.empty() ? "" : ", ", k);
    throw Error(fmt::format("{} holds {} paths named '{}' ({}): choose one by its number", source, matches.size(),
                            choice, numbers));
}

double pathLength(const RoutePath& path)
{
    RouteState state;
    loadRawPoints(state, path.points, {});
    double length = 0;
    for (std::size_t n = 1; n < state.rawCount; ++n)
        length += horizontal(double(state.rawEast[n + 1]) - double(state.rawEast[n]),
                             double(state.rawNorth[n + 1]) - double(state.rawNorth[n]));
    return length;
}

std::string pathListing(const std::vector<RoutePath>& paths)
{
    std::string listing;
    for (std::size_t k = 0; k < paths.size(); ++k) {
        std::string name = paths[k].name;
        for (char& c : name)
            if (c == '\t' || c == '\r' || c == '\n') c = ' ';
        listing += fmt::format("{}\t{}\t{}\t{:.1f}\n", k + 1, name, paths[k].points.size(), pathLength(paths[k]));
    }
    return listing;
}

void loadRawHeights(RouteState& state, const std::vector<KmlCoordinate>& points, std::string_view source)
{
    const std::size_t count = points.size();
    // Along-path distance of each raw point, to share a missing height out by distance.
    std::vector<double> along(count, 0.0);
    for (std::size_t i = 1; i < count && i + 1 <= state.rawCount; ++i)
        along[i] = along[i - 1] + horizontal(double(state.rawEast[i + 1]) - double(state.rawEast[i]),
                                             double(state.rawNorth[i + 1]) - double(state.rawNorth[i]));
    std::vector<double> heights(count, 0.0);
    std::size_t previous = count;  // the last point with a height so far (count: none)
    for (std::size_t i = 0; i < count; ++i) {
        if (!points[i].hasAltitude) continue;
        heights[i] = points[i].altitude;
        if (!(std::fabs(heights[i]) <= maxHeight))
            throw Error(fmt::format("{}: the height {} of point {} is not within +-{} m", source, heights[i], i + 1,
                                    maxHeight));
        if (previous == count) {
            for (std::size_t j = 0; j < i; ++j) heights[j] = heights[i];  // the start takes the first height
        } else {
            const double span = along[i] - along[previous];
            for (std::size_t j = previous + 1; j < i; ++j) {
                const double f =
                    span > 0 ? (along[j] - along[previous]) / span : double(j - previous) / double(i - previous);
                heights[j] = heights[previous] + f * (heights[i] - heights[previous]);
            }
        }
        previous = i;
    }
    if (previous == count)
        throw Error(
            fmt::format("{}: the path carries no heights (no altitudes in its coordinates, no ele in its "
                        "points)",
                        source));
    for (std::size_t j = previous + 1; j < count; ++j) heights[j] = heights[previous];  // the end takes the last
    state.rawHeight.assign(count + 1, 0.0f);
    for (std::size_t i = 0; i < count; ++i) state.rawHeight[i + 1] = static_cast<float>(heights[i]);
}

}  // namespace trajix::route
