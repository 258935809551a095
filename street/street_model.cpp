#include "street/street_model.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include <fmt/format.h>
#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <boost/iterator/counting_iterator.hpp>
#include <boost/iterator/transform_iterator.hpp>

#include "common/error.hpp"

namespace trajix::street {

namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
using IndexPoint = bg::model::point<double, 2, bg::cs::cartesian>;
using IndexBox = bg::model::box<IndexPoint>;
using IndexSegment = bg::model::segment<IndexPoint>;
using IndexEntry = std::pair<IndexBox, std::uint32_t>;
using Tree = bgi::rtree<IndexEntry, bgi::rstar<16>>;
// The walls and footprints, many, in trees of float boxes (the walls' own precision,
// half the size); queries stay in doubles.
using CompactPoint = bg::model::point<float, 2, bg::cs::cartesian>;
using CompactBox = bg::model::box<CompactPoint>;
using CompactEntry = std::pair<CompactBox, std::uint32_t>;
using CompactTree = bgi::rtree<CompactEntry, bgi::rstar<16>>;

/// Packs a tree of count entries made one by one by entryOf(i), without a vector of them.
template <class EntryOf>
CompactTree packedTree(std::uint32_t count, const EntryOf& entryOf)
{
    // Transform iterators are copied and assigned while packing: a pointer to the maker.
    struct Entry {
        const EntryOf* make;
        CompactEntry operator()(std::uint32_t i) const { return (*make)(i); }
    };
    const auto at = [&](std::uint32_t i) {
        return boost::make_transform_iterator(boost::counting_iterator<std::uint32_t>(i), Entry{&entryOf});
    };
    return CompactTree(at(0), at(count));
}

constexpr double degree = std::numbers::pi / 180;
/// Beyond this a building is below the horizon's haze of the Earth's curve for any
/// elevation above a mask: 290 m seen from 20 km is 0.8 degrees up.
constexpr double farthestReach = 20000;
/// Elevations are computed up to just below the zenith, where the ray's slope is finite.
constexpr double highestElevation = 89.99;
/// A ray leaving a wall ignores crossings closer than this (the wall it leaves from and
/// its neighbours at a shared corner).
constexpr double leavingGap = 1e-3;
/// The receiver runs along a covered way when its heading is within this of the way's.
constexpr double alongWay = 30;

/// Rings: a footprint's (float corners) or a covered area's; the sums in doubles.
template <class Rings>
bool insideRings(const Rings& rings, double x, double y)
{
    // Even-odd crossings over every ring: inside the outer ring and outside its holes.
    bool inside = false;
    for (const auto& ring : rings) {
        const std::size_t n = ring.size();
        for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
            const double ax = ring[i].east, ay = ring[i].north, bx = ring[j].east, by = ring[j].north;
            if ((ay > y) != (by > y) && x < (bx - ax) * (y - ay) / (by - ay) + ax) inside = !inside;
        }
    }
    return inside;
}

IndexBox boxOf(const std::vector<LocalPoint>& ring)
{
    IndexBox box(IndexPoint(ring[0].east, ring[0].north), IndexPoint(ring[0].east, ring[0].north));
    for (const auto& point : ring) bg::expand(box, IndexPoint(point.east, point.north));
    return box;
}

CompactBox boxOf(FootprintRing ring)
{
    CompactBox box(CompactPoint(ring[0].east, ring[0].north), CompactPoint(ring[0].east, ring[0].north));
    for (const auto& point : ring) bg::expand(box, CompactPoint(point.east, point.north));
    return box;
}

double cross(double ax, double ay, double bx, double by)
{
    return ax * by - ay * bx;
}

/// The walls again, by square cell of a grid over them, for the rays: a ray looks at the
/// walls of the cells it crosses from its start on, so that the walls near it, the ones
/// that block most, come first, and passes by the cells whose walls all stand below it
/// (or above it) there. A wall is listed in every cell its box, widened by gridMargin,
/// touches, and a ray visits every cell its path, widened the same, touches: the walls it
/// meets are among the ones it looks at, however the sums round.
struct WallGrid {
    static constexpr double gridMargin = 0.05;
    /// A ray stands clear of a cell's walls when it passes more than this above or below.
    static constexpr double heightMargin = 1e-3;

    double x0 = 0, y0 = 0, cell = 1;
    std::int64_t columns = 0, rows = 0;
    std::vector<std::uint32_t> starts;   ///< cell c's walls are entries[starts[c] .. starts[c + 1])
    std::vector<std::uint32_t> entries;  ///< indexes into the walls
    std::vector<float> highs, lows;      ///< the highest top and lowest bottom of a cell's walls

    std::int64_t indexOf(double v, double origin, std::int64_t count) const
    {
        const double k = std::floor((v - origin) / cell);
        if (!(k > 0)) return 0;
        return k >= static_cast<double>(count - 1) ? count - 1 : static_cast<std::int64_t>(k);
    }

    void build(const std::vector<Wall>& walls)
    {
        if (walls.empty()) return;
        double minX = walls[0].ax, minY = walls[0].ay, maxX = minX, maxY = minY;
        for (const Wall& w : walls) {
            minX = std::min({minX, static_cast<double>(w.ax), static_cast<double>(w.bx)});
            maxX = std::max({maxX, static_cast<double>(w.ax), static_cast<double>(w.bx)});
            minY = std::min({minY, static_cast<double>(w.ay), static_cast<double>(w.by)});
            maxY = std::max({maxY, static_cast<double>(w.ay), static_cast<double>(w.by)});
        }
        x0 = minX - 2 * gridMargin;
        y0 = minY - 2 * gridMargin;
        const double width = maxX - x0 + 2 * gridMargin, height = maxY - y0 + 2 * gridMargin;
        // Cells of 20 m where the walls are dense, larger ones where they are sparse: at
        // most one cell for two walls.
        cell = std::max(20.0, std::sqrt(width * height * 2 / static_cast<double>(walls.size())));
        columns = static_cast<std::int64_t>(width / cell) + 1;
        rows = static_cast<std::int64_t>(height / cell) + 1;
        const auto cells = static_cast<std::size_t>(columns * rows);
        std::vector<std::uint32_t> counts(cells + 1, 0);
        const auto eachCell = [&](const Wall& w, const auto& action) {
            const std::int64_t i0 = indexOf(std::min(w.ax, w.bx) - gridMargin, x0, columns);
            const std::int64_t i1 = indexOf(std::max(w.ax, w.bx) + gridMargin, x0, columns);
            const std::int64_t j0 = indexOf(std::min(w.ay, w.by) - gridMargin, y0, rows);
            const std::int64_t j1 = indexOf(std::max(w.ay, w.by) + gridMargin, y0, rows);
            for (std::int64_t j = j0; j <= j1; ++j)
                for (std::int64_t i = i0; i <= i1; ++i) action(static_cast<std::size_t>(j * columns + i));
        };
        std::size_t total = 0;
        for (const Wall& w : walls)
            eachCell(w, [&](std::size_t c) {
                ++counts[c];
                ++total;
            });
        if (total > std::numeric_limits<std::uint32_t>::max())
            throw Error(fmt::format("more than {} walls by cell: too many to keep",
                                    std::numeric_limits<std::uint32_t>::max()));
        starts.assign(cells + 1, 0);
        for (std::size_t c = 0; c < cells; ++c) starts[c + 1] = starts[c] + counts[c];
        entries.resize(total);
        highs.assign(cells, -std::numeric_limits<float>::infinity());
        lows.assign(cells, std::numeric_limits<float>::infinity());
        std::copy(starts.begin(), starts.end() - 1, counts.begin());
        for (std::uint32_t k = 0; k < walls.size(); ++k) {
            const Wall& w = walls[k];
            eachCell(w, [&](std::size_t c) {
                entries[counts[c]++] = k;
                highs[c] = std::max(highs[c], w.high);
                lows[c] = std::min(lows[c], w.low);
            });
        }
    }

    /// Whether visit(wall) says true for a wall of a cell that the path from (x, y)
    /// along (dx, dy) for length metres crosses, at height z + s slope after s metres.
    template <class Visit>
    bool anyAlong(double x, double y, double dx, double dy, double length, double z, double slope,
                  const Visit& visit) const
    {
        if (columns == 0) return false;
        // Where along the path, within [0, length], the coordinate p + s d lies in [low, high].
        // Along a direction that moves the coordinate by under 1e-12 a metre, it moves by
        // far less than the margin over the longest ray: it stands still. Along others, a
        // product by the inverse, which rounds by far less than the margin too.
        constexpr double still = 1e-12;
        const double inverseX = std::fabs(dx) > still ? 1 / dx : 0, inverseY = std::fabs(dy) > still ? 1 / dy : 0;
        const auto within = [length](double p, double inverse, double low, double high, double& s0, double& s1) {
            if (inverse == 0) {
                s0 = 0;
                s1 = length;
                return p >= low && p <= high;
            }
            double a = (low - p) * inverse, b = (high - p) * inverse;
            if (a > b) std::swap(a, b);
            s0 = std::max(a, 0.0);
            s1 = std::min(b, length);
            return s0 <= s1;
        };
        const double y1 = y + length * dy;
        const std::int64_t jLow = indexOf(std::min(y, y1) - gridMargin, y0, rows);
        const std::int64_t jHigh = indexOf(std::max(y, y1) + gridMargin, y0, rows);
        for (std::int64_t n = 0; n <= jHigh - jLow; ++n) {
            const std::int64_t j = dy >= 0 ? jLow + n : jHigh - n;
            const double rowLow = y0 + static_cast<double>(j) * cell;
            double r0 = 0, r1 = 0;
            if (!within(y, inverseY, rowLow - gridMargin, rowLow + cell + gridMargin, r0, r1)) continue;
            // The ray's lowest and highest over the row, which hold over each of its cells.
            const double rowBottom = z + std::min(r0 * slope, r1 * slope) - heightMargin;
            const double rowTop = z + std::max(r0 * slope, r1 * slope) + heightMargin;
            const double xa = x + r0 * dx, xb = x + r1 * dx;
            const std::int64_t iLow = indexOf(std::min(xa, xb) - gridMargin, x0, columns);
            const std::int64_t iHigh = indexOf(std::max(xa, xb) + gridMargin, x0, columns);
            for (std::int64_t m = 0; m <= iHigh - iLow; ++m) {
                const std::int64_t i = dx >= 0 ? iLow + m : iHigh - m;
                const auto c = static_cast<std::size_t>(j * columns + i);
                const std::uint32_t first = starts[c], last = starts[c + 1];
                if (first == last || rowBottom > highs[c] || rowTop < lows[c]) continue;
                const double columnLow = x0 + static_cast<double>(i) * cell;
                double c0 = 0, c1 = 0;
                if (!within(x, inverseX, columnLow - gridMargin, columnLow + cell + gridMargin, c0, c1)) continue;
                const double s0 = std::max(r0, c0), s1 = std::min(r1, c1);
                if (s0 > s1) continue;
                const double h0 = z + s0 * slope, h1 = z + s1 * slope;
                if (std::min(h0, h1) > highs[c] + heightMargin || std::max(h0, h1) < lows[c] - heightMargin) continue;
                for (std::uint32_t k = first; k < last; ++k)
                    if (visit(entries[k])) return true;
            }
        }
        return false;
    }
};

}  // namespace

struct StreetModel::Data {
    StreetModelOptions options;
    bool hasOrigin = false;
    double originLat = 0, originLon = 0;
    double metresPerRadianNorth = 0, metresPerRadianEast = 0;

    std::vector<Footprint> footprints;
    /// Every footprint's corners, ring after ring; ring r is points[ringEnds[r] ..
    /// ringEnds[r + 1]).
    std::vector<FootprintPoint> points;
    std::vector<std::uint32_t> ringEnds{0};
    std::vector<bool> parts;
    std::vector<Wall> walls;
    CompactTree wallTree, footprintTree;
    std::vector<std::uint32_t> raisedFootprints;  ///< footprints that stand above the ground
    CompactTree raisedTree;  ///< the raised footprints alone, boxed as footprintTree boxes them
    WallGrid grid;           ///< the walls again, by cell, for the rays
    std::vector<CoveredSegment> waySegments;
    Tree wayTree;
    std::vector<std::vector<std::vector<LocalPoint>>> areas;
    Tree areaTree;
    std::size_t ways = 0;
    double highest = 0;

    void setOrigin(double lat, double lon)
    {
        hasOrigin = true;
        originLat = lat;
        originLon = lon;
        // Radii of curvature of WGS-84 at the origin: north-south (meridian) and east-west.
        constexpr double a = 6378137.0, f = 1 / 298.257223563, e2 = f * (2 - f);
        const double s = std::sin(lat * degree);
        const double w = std::sqrt(1 - e2 * s * s);
        metresPerRadianNorth = a * (1 - e2) / (w * w * w);
        metresPerRadianEast = a / w;
    }

    LocalPoint toLocal(double lat, double lon) const
    {
        double dLon = lon - originLon;
        if (dLon > 180) dLon -= 360;
        if (dLon < -180) dLon += 360;
        return {metresPerRadianEast * std::cos(lat * degree) * dLon * degree,
                metresPerRadianNorth * (lat - originLat) * degree};
    }

    FootprintRings ringsOf(const Footprint& footprint) const
    {
        return {points.data(), ringEnds.data() + footprint.firstRing + 1, footprint.ringCount};
    }

    /// Adds a footprint's rings to the table.
    Footprint addFootprint(const std::vector<Ring>& rings)
    {
        if (!hasOrigin) setOrigin(rings.front().front().lat, rings.front().front().lon);
        Footprint footprint;
        footprint.firstRing = static_cast<std::uint32_t>(ringEnds.size() - 1);
        for (const auto& ring : rings) {
            if (points.size() + ring.size() > std::numeric_limits<std::uint32_t>::max())
                throw Error(fmt::format("more than {} building corners: too many to keep",
                                        std::numeric_limits<std::uint32_t>::max()));
            for (const auto& point : ring) {
                const LocalPoint local = toLocal(point.lat, point.lon);
                points.push_back({static_cast<float>(local.east), static_cast<float>(local.north)});
            }
            ringEnds.push_back(static_cast<std::uint32_t>(points.size()));
            ++footprint.ringCount;
        }
        return footprint;
    }

    std::vector<std::vector<LocalPoint>> localRings(const std::vector<Ring>& rings)
    {
        if (!hasOrigin) setOrigin(rings.front().front().lat, rings.front().front().lon);
        std::vector<std::vector<LocalPoint>> result;
        result.reserve(rings.size());
        for (const auto& ring : rings) {
            auto& local = result.emplace_back();
            local.reserve(ring.size());
            for (const auto& point : ring) local.push_back(toLocal(point.lat, point.lon));
        }
        return result;
    }

    bool insideBuilding(double x, double y, double z) const
    {
        for (auto it = footprintTree.qbegin(bgi::intersects(IndexPoint(x, y))); it != footprintTree.qend(); ++it) {
            const auto& footprint = footprints[it->second];
            if (z >= footprint.low && z <= footprint.high && insideRings(ringsOf(footprint), x, y)) return true;
        }
        return false;
    }

    /// Whether the path from (x, y, z) along the horizontal unit direction (dx, dy),
    /// rising slope metres per metre, meets a wall or the underside of a raised
    /// building within length metres. exclude: a wall to pass through (the reflector).
    bool pathBlocked(double x, double y, double z, double dx, double dy, double slope, double length,
                     std::int64_t exclude) const
    {
        if (length <= leavingGap) return false;
        const auto meets = [&](std::uint32_t index) {
            if (static_cast<std::int64_t>(index) == exclude) return false;
            const Wall& wall = walls[index];
            const double ex = wall.bx - wall.ax, ey = wall.by - wall.ay;
            const double denominator = cross(dx, dy, ex, ey);
            if (denominator == 0) return false;  // along the wall: it grazes, never enters
            const double px = wall.ax - x, py = wall.ay - y;
            const double s = cross(px, py, ex, ey) / denominator;
            const double t = cross(px, py, dx, dy) / denominator;
            if (s <= leavingGap || s > length || t < 0 || t > 1) return false;
            const double height = z + s * slope;
            return height >= wall.low && height <= wall.high;
        };
        if (grid.anyAlong(x, y, dx, dy, length, z, slope, meets)) return true;
        if (!raisedFootprints.empty() && slope != 0) {
            const IndexSegment segment(IndexPoint(x, y), IndexPoint(x + length * dx, y + length * dy));
            for (auto it = raisedTree.qbegin(bgi::intersects(segment)); it != raisedTree.qend(); ++it) {
                const auto& footprint = footprints[it->second];
                const double s = (footprint.low - z) / slope;
                if (s <= leavingGap || s > length) continue;
                if (insideRings(ringsOf(footprint), x + s * dx, y + s * dy)) return true;
            }
        }
        return false;
    }

    /// A satellite's direction as the searches take it: the horizontal unit vector and
    /// the elevation's sine, cosine and slope, worked out once for all of them.
    struct Direction {
        double dx, dy, cosE, sinE, slope;
        Direction(double azimuth, double elevation)
        {
            const double e = std::min(elevation, highestElevation) * degree;
            slope = std::tan(e);
            dx = std::sin(azimuth * degree);
            dy = std::cos(azimuth * degree);
            cosE = std::cos(e);
            sinE = std::sin(e);
        }
    };

    bool skyBlocked(double x, double y, double z, const Direction& direction, std::int64_t exclude) const
    {
        const double length = std::min((highest - z) / direction.slope, farthestReach);
        return pathBlocked(x, y, z, direction.dx, direction.dy, direction.slope, length, exclude);
    }

    /// A wall near the receiver, its horizontal normal turned to face it.
    struct FacingWall {
        double ex, ey, lengthSquared, nx, ny, distance;
        float ax, ay, low, high;  // the wall's own, at hand
        std::uint32_t wall;
    };

    /// The walls around a place, and for each of `sectors` equal sectors of the horizon
    /// the ones a reflection may come from there: seen from the receiver's mirror image
    /// behind a wall, the satellite's direction points at the wall, within a margin far
    /// wider than the sums of the search round by.
    struct Surroundings {
        static constexpr std::int64_t sectors = 64;
        static constexpr double margin = 1e-6;  ///< in turnOf's measure
        std::vector<FacingWall> walls;
        std::vector<std::uint32_t> starts, entries;  ///< sector k: walls[entries[starts[k] .. starts[k + 1])]

        /// Where a horizontal direction (east, north) points, from 0 (north) up through 1
        /// (east), 2 and 3 to 4 (north again): a measure that grows with the azimuth,
        /// never slower than it in radians, without its arc tangent.
        static double turnOf(double east, double north)
        {
            // Selected rather than branched on: the walls around a place point every way.
            const double r = east / (std::fabs(east) + std::fabs(north));
            const double base = north >= 0 ? (east >= 0 ? 0.0 : 4.0) : 2.0;
            return base + (north >= 0 ? r : -r);
        }
        static std::size_t sectorOf(double turn)
        {
            return static_cast<std::size_t>(static_cast<std::int64_t>(std::floor(turn * (sectors / 4))) & (sectors - 1));
        }
    };

    /// The walls that may hold a reflection point within reach of the receiver: the
    /// same for every satellite. Sorted into sectors when they serve several satellites.
    Surroundings wallsAround(LocalPoint receiver, bool sectored) const
    {
        const double x = receiver.east, y = receiver.north, range = options.reflectionRange;
        Surroundings result;
        auto& around = result.walls;
        const IndexBox box(IndexPoint(x - range, y - range), IndexPoint(x + range, y + range));
        const double farRange = (range + 1e-6) * (range + 1e-6);
        for (auto it = wallTree.qbegin(bgi::intersects(box)); it != wallTree.qend(); ++it) {
            const Wall& wall = walls[it->second];
            const double ex = wall.bx - wall.ax, ey = wall.by - wall.ay;
            // A wall whose every point lies beyond the range (by more than the search's
            // sums round by) holds no reflection point: passed by before its length.
            const double px = x - wall.ax, py = y - wall.ay, lengthSquared = ex * ex + ey * ey;
            const double u = lengthSquared > 0 ? std::clamp((px * ex + py * ey) / lengthSquared, 0.0, 1.0) : 0.0;
            const double cx = px - u * ex, cy = py - u * ey;
            if (cx * cx + cy * cy > farRange) continue;
            const double wallLength = std::hypot(ex, ey);
            if (wallLength == 0) continue;
            // The wall's horizontal normal, turned to face the receiver.
            double nx = -ey / wallLength, ny = ex / wallLength;
            double distance = nx * (x - wall.ax) + ny * (y - wall.ay);
            if (distance < 0) {
                nx = -nx;
                ny = -ny;
                distance = -distance;
            }
            if (distance <= leavingGap || distance > range) continue;  // no point of it is in range
            around.push_back(
                {ex, ey, wallLength * wallLength, nx, ny, distance, wall.ax, wall.ay, wall.low, wall.high, it->second});
        }
        if (!sectored) return result;
        // The sectors each wall spans seen from the mirror image, its ends as the search
        // takes them (a, then a + e); under a half turn, as the image stands off the wall.
        std::vector<std::pair<std::int64_t, std::int64_t>> spans;
        spans.reserve(around.size());
        std::vector<std::uint32_t> counts(Surroundings::sectors + 1, 0);
        for (const FacingWall& wall : around) {
            const double mx = x - 2 * wall.distance * wall.nx, my = y - 2 * wall.distance * wall.ny;
            const double ax = wall.ax - mx, ay = wall.ay - my;
            const double first = Surroundings::turnOf(ax, ay);
            double width = Surroundings::turnOf(ax + wall.ex, ay + wall.ey) - first;
            double low = first;
            if (width > 2) width -= 4;
            if (width < -2) width += 4;
            if (width < 0) {
                low += width;
                width = -width;
            }
            // Whole sectors from low, in [-2, 4): a truncation of a positive value, a turn up.
            constexpr double perTurn = Surroundings::sectors / 4;
            constexpr auto turnUp = Surroundings::sectors;
            auto k0 = static_cast<std::int64_t>((low - Surroundings::margin) * perTurn + turnUp) - turnUp;
            auto k1 = static_cast<std::int64_t>((low + width + Surroundings::margin) * perTurn + turnUp) - turnUp;
            if (!(width < 2) || k1 - k0 >= Surroundings::sectors) {
                k0 = 0;
                k1 = Surroundings::sectors - 1;
            }
            spans.emplace_back(k0, k1);
            for (std::int64_t k = k0; k <= k1; ++k) ++counts[static_cast<std::size_t>(k & (Surroundings::sectors - 1))];
        }
        result.starts.assign(Surroundings::sectors + 1, 0);
        for (std::int64_t k = 0; k < Surroundings::sectors; ++k) result.starts[k + 1] = result.starts[k] + counts[k];
        result.entries.resize(result.starts.back());
        std::copy(result.starts.begin(), result.starts.end() - 1, counts.begin());
        for (std::uint32_t w = 0; w < around.size(); ++w)
            for (std::int64_t k = spans[w].first; k <= spans[w].second; ++k)
                result.entries[counts[static_cast<std::size_t>(k & (Surroundings::sectors - 1))]++] = w;
        return result;
    }

    /// A reflection point found on a wall, before its paths are looked along.
    struct Candidate {
        double extra, qx, qy, qz;
        std::uint32_t wall;
    };

    /// candidates: room for the search, kept from one satellite to the next.
    std::optional<Reflection> bestReflection(LocalPoint receiver, const Surroundings& around,
                                             const Direction& direction, std::vector<Candidate>& candidates) const
    {
        const double z = options.antennaHeight;
        const double dx = direction.dx, dy = direction.dy, cosE = direction.cosE, sinE = direction.sinE;
        const double x = receiver.east, y = receiver.north, range = options.reflectionRange;
        // The reflection point lies distance / onNormal from the receiver, where onNormal
        // is the satellite's horizontal direction on the wall's normal, and tan(elevation)
        // times that above the antenna: walls it misses by more than `slack` metres (far
        // more than the sums below round by) are passed by before them.
        constexpr double slack = 1e-6;
        candidates.clear();
        const double turn = Surroundings::turnOf(dx, dy);
        const bool sectored = !around.starts.empty() && std::isfinite(turn);
        const std::size_t sector = sectored ? Surroundings::sectorOf(turn) : 0;
        const std::uint32_t first = sectored ? around.starts[sector] : 0;
        const std::uint32_t last = sectored ? around.starts[sector + 1] : static_cast<std::uint32_t>(around.walls.size());
        for (std::uint32_t k = first; k < last; ++k) {
            const FacingWall& wall = around.walls[sectored ? around.entries[k] : k];
            const double onNormal = dx * wall.nx + dy * wall.ny;
            if (onNormal <= 0) continue;
            const double distance = wall.distance;
            if (distance > (range + slack) * onNormal) continue;
            const double rise = distance * sinE, run = cosE * onNormal;
            if (rise > (wall.high - z + slack) * run || rise < (wall.low - z - slack) * run) continue;
            const double ex = wall.ex, ey = wall.ey;
            const double nx = wall.nx, ny = wall.ny;
            const double facing = cosE * (dx * nx + dy * ny);  // the satellite's direction on the normal
            if (facing <= 0) continue;                         // the satellite is behind the wall
            // The receiver's mirror image behind the wall looks at the satellite through
            // the reflection point.
            const double t = distance / facing;
            const double qx = x - 2 * distance * nx + t * cosE * dx;
            const double qy = y - 2 * distance * ny + t * cosE * dy;
            const double qz = z + t * sinE;
            if (qz < wall.low || qz > wall.high) continue;
            const double along = ((qx - wall.ax) * ex + (qy - wall.ay) * ey) / wall.lengthSquared;
            if (along < 0 || along > 1 || std::hypot(qx - x, qy - y) > range) continue;
            candidates.push_back({2 * distance * facing, qx, qy, qz, wall.wall});
        }
        std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
            return a.extra < b.extra || (a.extra == b.extra && a.wall < b.wall);
        });
        for (const auto& candidate : candidates) {
            // The short way to the receiver first, then the long one to the sky.
            const double hx = x - candidate.qx, hy = y - candidate.qy;
            const double horizontal = std::hypot(hx, hy);
            if (horizontal > 0 &&
                pathBlocked(candidate.qx, candidate.qy, candidate.qz, hx / horizontal, hy / horizontal,
                            (z - candidate.qz) / horizontal, horizontal - leavingGap, candidate.wall))
                continue;
            if (skyBlocked(candidate.qx, candidate.qy, candidate.qz, direction, candidate.wall)) continue;
            return Reflection{candidate.extra, options.reflectionLossDb, candidate.wall};
        }
        return std::nullopt;
    }
};

StreetModel::Builder::Builder(const StreetModelOptions& options) : data_(std::make_unique<StreetModel::Data>())
{
    data_->options = options;
}

StreetModel::Builder::~Builder() = default;

void StreetModel::Builder::building(BuildingFootprint&& building)
{
    Footprint footprint = data_->addFootprint(building.rings);
    footprint.low = static_cast<float>(building.heights.minHeight);
    footprint.high = static_cast<float>(building.heights.height);
    data_->footprints.push_back(std::move(footprint));
    data_->parts.push_back(building.part);
}

void StreetModel::Builder::coveredWay(CoveredWay&& way)
{
    auto& d = *data_;
    if (!d.hasOrigin) d.setOrigin(way.line.front().lat, way.line.front().lon);
    for (std::size_t i = 0; i + 1 < way.line.size(); ++i) {
        const auto a = d.toLocal(way.line[i].lat, way.line[i].lon);
        const auto b = d.toLocal(way.line[i + 1].lat, way.line[i + 1].lon);
        d.waySegments.push_back({a, b, way.width / 2});
    }
    ++d.ways;
}

void StreetModel::Builder::coveredArea(CoveredArea&& area)
{
    data_->areas.push_back(data_->localRings(area.rings));
}

namespace {

/// A point inside the outer ring: the centroid of the ring when it lies inside, else of
/// the first corner triangle whose centroid does.
std::optional<LocalPoint> pointInside(const FootprintRings& rings)
{
    const auto ring = rings.front();
    const auto at = [&ring](std::size_t i) { return static_cast<LocalPoint>(ring[i]); };
    double area = 0, cx = 0, cy = 0;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const LocalPoint a = at(j), b = at(i);
        const double c = cross(a.east, a.north, b.east, b.north);
        area += c;
        cx += (a.east + b.east) * c;
        cy += (a.north + b.north) * c;
    }
    if (area != 0) {
        const LocalPoint centroid{cx / (3 * area), cy / (3 * area)};
        if (insideRings(rings, centroid.east, centroid.north)) return centroid;
    }
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const LocalPoint a = at((i + ring.size() - 1) % ring.size()), b = at(i), c = at((i + 1) % ring.size());
        const LocalPoint centre{(a.east + b.east + c.east) / 3, (a.north + b.north + c.north) / 3};
        if (insideRings(rings, centre.east, centre.north)) return centre;
    }
    return std::nullopt;
}

}  // namespace

StreetModel StreetModel::Builder::finish()
{
    auto& d = *data_;
    // An outline with building:parts inside is the parts' envelope, as tall as the
    // tallest: the parts stand for it.
    std::vector<bool> keep(d.footprints.size(), true);
    if (std::find(d.parts.begin(), d.parts.end(), true) != d.parts.end()) {
        std::vector<std::uint32_t> outlines;
        for (std::uint32_t i = 0; i < d.footprints.size(); ++i)
            if (!d.parts[i]) outlines.push_back(i);
        const CompactTree outlineTree = packedTree(static_cast<std::uint32_t>(outlines.size()), [&](std::uint32_t k) {
            return CompactEntry(boxOf(d.ringsOf(d.footprints[outlines[k]]).front()), outlines[k]);
        });
        for (std::uint32_t i = 0; i < d.footprints.size(); ++i) {
            if (!d.parts[i]) continue;
            const auto inside = pointInside(d.ringsOf(d.footprints[i]));
            if (!inside) continue;
            const IndexPoint point(inside->east, inside->north);
            for (auto it = outlineTree.qbegin(bgi::intersects(point)); it != outlineTree.qend(); ++it)
                if (insideRings(d.ringsOf(d.footprints[it->second]), inside->east, inside->north))
                    keep[it->second] = false;
        }
    }
    // The footprints kept, in place (their corners stay in the table), and every
    // table cut to its size before the walls are made: the peak of the memory.
    std::size_t kept = 0, wallCount = 0;
    for (std::size_t i = 0; i < d.footprints.size(); ++i) {
        if (!keep[i]) continue;
        const Footprint& footprint = d.footprints[i];
        wallCount += d.ringEnds[footprint.firstRing + footprint.ringCount] - d.ringEnds[footprint.firstRing];
        d.footprints[kept++] = footprint;
    }
    if (wallCount > std::numeric_limits<std::uint32_t>::max())
        throw Error(fmt::format("more than {} walls: too many to keep", std::numeric_limits<std::uint32_t>::max()));
    d.footprints.resize(kept);
    d.footprints.shrink_to_fit();
    d.points.shrink_to_fit();
    d.ringEnds.shrink_to_fit();
    d.parts.clear();
    d.parts.shrink_to_fit();
    keep.clear();
    keep.shrink_to_fit();

    d.walls.reserve(wallCount);
    for (std::uint32_t i = 0; i < d.footprints.size(); ++i) {
        const auto& footprint = d.footprints[i];
        d.highest = std::max(d.highest, static_cast<double>(footprint.high));
        if (footprint.low > 0) d.raisedFootprints.push_back(i);
        for (const auto ring : d.ringsOf(footprint)) {
            for (std::size_t k = 0; k < ring.size(); ++k) {
                const auto& a = ring[k];
                const auto& b = ring[(k + 1) % ring.size()];
                d.walls.push_back({a.east, a.north, b.east, b.north, footprint.low, footprint.high});
            }
        }
    }
    // Packed (bulk-loaded) trees: built once, queried many times.
    const auto wallEntry = [&d](std::uint32_t i) {
        const Wall& wall = d.walls[i];
        return CompactEntry(CompactBox(CompactPoint(std::min(wall.ax, wall.bx), std::min(wall.ay, wall.by)),
                                       CompactPoint(std::max(wall.ax, wall.bx), std::max(wall.ay, wall.by))),
                            i);
    };
    d.wallTree = packedTree(static_cast<std::uint32_t>(d.walls.size()), wallEntry);
    d.footprintTree = packedTree(static_cast<std::uint32_t>(d.footprints.size()), [&d](std::uint32_t i) {
        return CompactEntry(boxOf(d.ringsOf(d.footprints[i]).front()), i);
    });
    d.raisedTree = packedTree(static_cast<std::uint32_t>(d.raisedFootprints.size()), [&d](std::uint32_t k) {
        const std::uint32_t i = d.raisedFootprints[k];
        return CompactEntry(boxOf(d.ringsOf(d.footprints[i]).front()), i);
    });
    d.grid.build(d.walls);
    std::vector<IndexEntry> wayEntries;
    for (std::uint32_t i = 0; i < d.waySegments.size(); ++i) {
        const auto& s = d.waySegments[i];
        wayEntries.emplace_back(
            IndexBox(
                IndexPoint(std::min(s.a.east, s.b.east) - s.halfWidth, std::min(s.a.north, s.b.north) - s.halfWidth),
                IndexPoint(std::max(s.a.east, s.b.east) + s.halfWidth, std::max(s.a.north, s.b.north) + s.halfWidth)),
            i);
    }
    d.wayTree = Tree(wayEntries.begin(), wayEntries.end());
    std::vector<IndexEntry> areaEntries;
    for (std::uint32_t i = 0; i < d.areas.size(); ++i) areaEntries.emplace_back(boxOf(d.areas[i].front()), i);
    d.areaTree = Tree(areaEntries.begin(), areaEntries.end());
    return StreetModel(std::move(data_));
}

StreetModel::StreetModel(std::unique_ptr<Data> data) : data_(std::move(data)) {}
StreetModel::StreetModel(StreetModel&&) noexcept = default;
StreetModel& StreetModel::operator=(StreetModel&&) noexcept = default;
StreetModel::~StreetModel() = default;

StreetModel StreetModel::fromFile(const std::filesystem::path& file, const StreetReadOptions& readOptions,
                                  const StreetModelOptions& options, StreetReadSummary* summary)
{
    Builder builder(options);
    auto read = readStreet(file, readOptions, builder);
    if (summary) *summary = std::move(read);
    return builder.finish();
}

LocalPoint StreetModel::local(double latitude, double longitude) const
{
    return data_->toLocal(latitude, longitude);
}

LonLat StreetModel::geographic(LocalPoint point) const
{
    const auto& d = *data_;
    const double lat = d.originLat + point.north / d.metresPerRadianNorth / degree;
    double lon = d.originLon + point.east / (d.metresPerRadianEast * std::cos(lat * degree)) / degree;
    if (lon > 180) lon -= 360;
    if (lon < -180) lon += 360;
    return {lon, lat};
}

Place StreetModel::place(double latitude, double longitude, std::optional<double> heading) const
{
    const auto& d = *data_;
    Place result{d.toLocal(latitude, longitude), false};
    const double x = result.point.east, y = result.point.north;
    const IndexPoint point(x, y);
    for (auto it = d.wayTree.qbegin(bgi::intersects(point)); it != d.wayTree.qend(); ++it) {
        const auto& s = d.waySegments[it->second];
        const double ex = s.b.east - s.a.east, ey = s.b.north - s.a.north;
        const double length2 = ex * ex + ey * ey;
        const double t =
            length2 > 0 ? std::clamp(((x - s.a.east) * ex + (y - s.a.north) * ey) / length2, 0.0, 1.0) : 0.0;
        if (std::hypot(x - (s.a.east + t * ex), y - (s.a.north + t * ey)) > s.halfWidth) continue;
        if (heading && length2 > 0) {
            const double wayHeading = std::atan2(ex, ey) / degree;
            double difference = std::fmod(std::abs(*heading - wayHeading), 180.0);
            if (difference > 90) difference = 180 - difference;
            if (difference > alongWay) continue;
        }
        result.covered = true;
        return result;
    }
    for (auto it = d.areaTree.qbegin(bgi::intersects(point)); it != d.areaTree.qend(); ++it)
        if (insideRings(d.areas[it->second], x, y)) {
            result.covered = true;
            break;
        }
    return result;
}

bool StreetModel::blocked(LocalPoint receiver, double azimuth, double elevation) const
{
    const auto& d = *data_;
    const double z = d.options.antennaHeight;
    if (d.insideBuilding(receiver.east, receiver.north, z)) return true;
    return d.skyBlocked(receiver.east, receiver.north, z, Data::Direction(azimuth, elevation), -1);
}

SatelliteInStreet StreetModel::satellite(const Place& place, double azimuth, double elevation) const
{
    return satellites(place, {{azimuth, elevation}}).front();
}

std::vector<SatelliteInStreet> StreetModel::satellites(const Place& place,
                                                       const std::vector<std::pair<double, double>>& directions) const
{
    const auto& d = *data_;
    std::vector<SatelliteInStreet> results(directions.size());
    if (place.covered || d.insideBuilding(place.point.east, place.point.north, d.options.antennaHeight)) {
        for (auto& result : results) result.reception = Reception::blocked;
        return results;
    }
    // For a few satellites the walls are looked at one by one, not sorted first.
    const auto around = d.wallsAround(place.point, directions.size() >= 4);
    std::vector<Data::Candidate> candidates;
    for (std::size_t i = 0; i < directions.size(); ++i) {
        const Data::Direction direction(directions[i].first, directions[i].second);
        SatelliteInStreet& result = results[i];
        const bool direct =
            !d.skyBlocked(place.point.east, place.point.north, d.options.antennaHeight, direction, -1);
        result.reflection = d.bestReflection(place.point, around, direction, candidates);
        result.reception = direct ? Reception::clear : result.reflection ? Reception::reflected : Reception::blocked;
    }
    return results;
}

std::vector<double> StreetModel::skyline(const Place& place, double stepDegrees) const
{
    const auto& d = *data_;
    const double x = place.point.east, y = place.point.north, z = d.options.antennaHeight;
    const auto count = static_cast<std::size_t>(std::max(1.0, std::ceil(360 / stepDegrees - 1e-9)));
    std::vector<double> elevations(count, 0.0);
    // Under a tunnel, inside a building or under one's raised underside every direction
    // is blocked up to the zenith.
    bool closed = place.covered || d.insideBuilding(x, y, z);
    for (const std::uint32_t i : d.raisedFootprints) {
        const auto& footprint = d.footprints[i];
        if (closed) break;
        closed = z < footprint.low && insideRings(d.ringsOf(footprint), x, y);
    }
    if (closed) {
        std::fill(elevations.begin(), elevations.end(), 90.0);
        return elevations;
    }
    if (d.highest <= z) return elevations;
    for (std::size_t k = 0; k < count; ++k) {
        const double azimuth = static_cast<double>(k) * stepDegrees;
        const double dx = std::sin(azimuth * degree), dy = std::cos(azimuth * degree);
        // The walls the ray meets within the reach blocked() looks along, as it finds them.
        const IndexSegment ray(IndexPoint(x, y), IndexPoint(x + farthestReach * dx, y + farthestReach * dy));
        double highest = 0;
        for (auto it = d.wallTree.qbegin(bgi::intersects(ray)); it != d.wallTree.qend(); ++it) {
            const Wall& wall = d.walls[it->second];
            if (wall.high <= z) continue;
            const double ex = wall.bx - wall.ax, ey = wall.by - wall.ay;
            const double denominator = cross(dx, dy, ex, ey);
            if (denominator == 0) continue;
            const double px = wall.ax - x, py = wall.ay - y;
            const double s = cross(px, py, ex, ey) / denominator;
            const double t = cross(px, py, dx, dy) / denominator;
            if (s <= leavingGap || s > farthestReach || t < 0 || t > 1) continue;
            highest = std::max(highest, std::min(std::atan2(wall.high - z, s) / degree, highestElevation));
        }
        elevations[k] = highest;
    }
    return elevations;
}

const std::vector<Wall>& StreetModel::walls() const
{
    return data_->walls;
}
const std::vector<Footprint>& StreetModel::footprints() const
{
    return data_->footprints;
}
FootprintRings StreetModel::rings(const Footprint& footprint) const
{
    return data_->ringsOf(footprint);
}
const StreetModelOptions& StreetModel::options() const
{
    return data_->options;
}
std::size_t StreetModel::coveredWays() const
{
    return data_->ways;
}
const std::vector<CoveredSegment>& StreetModel::coveredSegments() const
{
    return data_->waySegments;
}
const std::vector<std::vector<std::vector<LocalPoint>>>& StreetModel::coveredAreas() const
{
    return data_->areas;
}

}  // namespace trajix::street
