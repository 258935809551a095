// The street model against geometry worked out by hand (a wall's shadow, a mirror's
// path, a tunnel's width and heading), and against a plain reference that tests every
// wall of the real Manhattan buildings with no index.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "street/street_model.hpp"
#include "test_support.hpp"

namespace trajix::street {
namespace {

constexpr double degree = std::numbers::pi / 180;
constexpr double originLat = 40.7, originLon = -74.0;

/// Latitude and longitude of a point east and north metres from the origin (near enough:
/// the tests measure distances in the model's own frame).
LonLat at(double east, double north)
{
    return {originLon + east / (111412.0 * std::cos(originLat * degree)), originLat + north / 111033.0};
}

/// A box building from (west, south) to (east, north) metres.
BuildingFootprint box(double west, double south, double east, double north, double height, double bottom = 0)
{
    BuildingFootprint b;
    b.rings.push_back({at(west, south), at(east, south), at(east, north), at(west, north)});
    b.heights = {height, bottom};
    return b;
}

StreetModel modelOf(std::vector<BuildingFootprint> buildings, std::vector<CoveredWay> ways = {})
{
    StreetModel::Builder builder({});
    // The origin first, so that it is the model's origin too.
    builder.building(box(-0.5, -0.5, 0.5, 0.5, 0.01));
    for (auto& b : buildings) builder.building(std::move(b));
    for (auto& w : ways) builder.coveredWay(std::move(w));
    return builder.finish();
}

// A wall due south of the receiver at distance d and height h hides the elevations
// below atan((h - 1.5) / d), and nothing in the north. Raised on a bottom b, with a
// depth of 20 m, the building lets through what passes under it entirely: elevations
// below atan((b - 1.5) / (d + 20)).
TEST(StreetModel, WallDueSouthHidesElevationsBelowItsTop)
{
    struct Case {
        double distance, height, bottom;
    };
    const Case cases[] = {{10, 20, 0}, {30, 100, 0}, {5, 3, 0}, {80, 290, 0}, {10, 30, 10}, {3, 60, 5}};
    for (const auto& c : cases) {
        const auto model = modelOf({box(-500, -c.distance - 20, 500, -c.distance, c.height, c.bottom)});
        const auto receiver = model.local(at(0, 20).lat, at(0, 20).lon);  // outside the origin's little box
        // The wall's face as the model holds it, for the exact distance.
        const double distance = receiver.north - model.local(at(0, -c.distance).lat, at(0, -c.distance).lon).north;
        const double top = std::atan2(c.height - 1.5, distance) / degree;
        const double bottom = std::atan2(c.bottom - 1.5, distance + 20) / degree;
        SCOPED_TRACE(testing::Message() << "d " << c.distance << " h " << c.height << " b " << c.bottom);
        for (const double margin : {0.01, 0.3, 5.0}) {
            if (top - margin > std::max(bottom, 0.0) + 0.001) {
                EXPECT_TRUE(model.blocked(receiver, 180, top - margin)) << top - margin;
            }
            EXPECT_FALSE(model.blocked(receiver, 180, top + margin)) << top + margin;
            if (bottom - margin > 0) {
                EXPECT_FALSE(model.blocked(receiver, 180, bottom - margin)) << "under the building";
                EXPECT_TRUE(model.blocked(receiver, 180, bottom + margin)) << "into its underside";
            }
            EXPECT_FALSE(model.blocked(receiver, 0, top - margin)) << "north";
        }
        // Along the wall the shadow ends where the wall does (500 m east and west).
        const double farEast = std::atan2(520, distance) / degree;
        EXPECT_FALSE(model.blocked(receiver, 180 - farEast, std::max(0.5, top - 0.3)));
    }
}

// A street 20 m wide between a low west block and a tall east block: a satellite low in
// the west is hidden by the west block and arrives by the east block's face. The extra
// path is the mirror image's: |S - Q| + |Q - P| - |S - P| for a satellite 20,000 km away.
TEST(StreetModel, ReflectionPathIsTheMirrorImages)
{
    const double west = -8, east = 12;  // metres from the receiver to each face
    const auto model = modelOf({box(west - 30, -300, west, 300, 25), box(east, -300, east + 30, 300, 150)});
    const Place place{model.local(at(0, 0).lat, at(0, 0).lon), false};
    struct Case {
        double azimuth, elevation;
        Reception expected;
    };
    const Case cases[] = {
        {270, 45, Reception::reflected},  // hidden by the west block
        {250, 45, Reception::reflected}, {300, 40, Reception::reflected},
        {270, 30, Reception::blocked},  // the reflection point's own view is hidden by the west block
        {270, 75, Reception::clear},    // above the west block: direct, with an echo
        {90, 30, Reception::blocked},   // behind the east block, nothing faces it
    };
    // The east face in the model's frame.
    const double eastFace = model.local(at(east, 0).lat, at(east, 0).lon).east;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "az " << c.azimuth << " el " << c.elevation);
        const auto seen = model.satellite(place, c.azimuth, c.elevation);
        ASSERT_EQ(seen.reception, c.expected);
        if (c.expected == Reception::blocked) continue;
        ASSERT_TRUE(seen.reflection);
        // The law of reflection: the signal leaves the face along the satellite's
        // direction with east and west swapped, and comes to the antenna from Q.
        const std::array<double, 3> u{std::cos(c.elevation * degree) * std::sin(c.azimuth * degree),
                                      std::cos(c.elevation * degree) * std::cos(c.azimuth * degree),
                                      std::sin(c.elevation * degree)};
        const std::array<double, 3> p{place.point.east, place.point.north, 1.5};
        const double tau = (eastFace - p[0]) / -u[0];
        const std::array<double, 3> q{p[0] - tau * u[0], p[1] + tau * u[1], p[2] + tau * u[2]};
        const double far = 2e7;
        const std::array<double, 3> s{q[0] + far * u[0], q[1] + far * u[1], q[2] + far * u[2]};
        auto distance = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
            return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
        };
        const double extra = distance(s, q) + distance(q, p) - distance(s, p);
        EXPECT_NEAR(seen.reflection->extraPath, extra, 1e-4);  // the face is north-south within 1e-6 rad
        EXPECT_DOUBLE_EQ(seen.reflection->lossDb, 6);
    }
    // A block across the street's far end does not matter; one over the reflection
    // point's view of the sky does: a taller west block hides the face's view too.
    const auto canyon = modelOf({box(west - 30, -300, west, 300, 140), box(east, -300, east + 30, 300, 150)});
    EXPECT_EQ(canyon.satellite(place, 270, 45).reception, Reception::blocked);
}

TEST(StreetModel, TunnelCoversAlongItsWidthAndHeading)
{
    CoveredWay tunnel;
    tunnel.line = {at(0, -200), at(0, 200)};
    tunnel.width = 10;
    const auto model = modelOf({}, {tunnel});
    struct Case {
        double east;
        std::optional<double> heading;
        bool covered;
    };
    const Case cases[] = {
        {0, 0, true},
        {0, 180, true},
        {0, 25, true},
        {0, 205, true},
        {0, 35, false},
        {0, 90, false},
        {0, 270, false},
        {4, 0, true},
        {-4.5, 180, true},
        {6, 0, false},
        {-6, 0, false},
        {0, std::nullopt, true},
        {6, std::nullopt, false},
    };
    for (const auto& c : cases) {
        const auto p = at(c.east, 50);
        const auto place = model.place(p.lat, p.lon, c.heading);
        EXPECT_EQ(place.covered, c.covered) << c.east << " m east, heading " << c.heading.value_or(-1);
        if (place.covered) {
            EXPECT_EQ(model.satellite(place, 0, 89).reception, Reception::blocked);
        }
    }
    // Beyond the tunnel's ends the sky is back.
    const auto beyond = at(0, 210);
    EXPECT_FALSE(model.place(beyond.lat, beyond.lon, 0).covered);
}

// ---- The plain reference: every wall, no index, vectors in three dimensions. ----

using Vector = std::array<double, 3>;
double dot(const Vector& a, const Vector& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

enum class Verdict { clear, blocked, unsure };

class Reference {
public:
    explicit Reference(const StreetModel& model) : model_(model) {}

    bool indoors(double x, double y, double z) const
    {
        for (const auto& f : model_.footprints())
            if (z >= f.low && z <= f.high && windingInside(f, x, y)) return true;
        return false;
    }

    /// Whether the ray from a along unit v meets a wall or an underside within length
    /// (unbounded when length is 0); unsure when a wall's edge passes within half a
    /// degree of it, seen from a.
    Verdict ray(const Vector& a, const Vector& v, double length, std::int64_t exclude) const
    {
        bool unsure = false;
        const double horizontal = std::hypot(v[0], v[1]);
        for (std::size_t i = 0; i < model_.walls().size(); ++i) {
            if (static_cast<std::int64_t>(i) == exclude) continue;
            const Wall& w = model_.walls()[i];
            const double ex = w.bx - w.ax, ey = w.by - w.ay, len = std::hypot(ex, ey);
            const Vector n{-ey / len, ex / len, 0};
            const double facing = dot(n, v);
            if (facing == 0) continue;
            const double tau = dot(n, Vector{w.ax - a[0], w.ay - a[1], 0}) / facing;
            if (tau * horizontal <= 1e-3 || (length > 0 && tau > length)) continue;
            const Vector h{a[0] + tau * v[0], a[1] + tau * v[1], a[2] + tau * v[2]};
            const double along = ((h[0] - w.ax) * ex + (h[1] - w.ay) * ey) / len;
            const double inside = std::min({along, len - along, h[2] - w.low, w.high - h[2]});
            if (std::abs(inside) < std::tan(0.5 * degree) * tau)
                unsure = true;
            else if (inside > 0)
                return Verdict::blocked;
        }
        if (v[2] != 0)
            for (const auto& f : model_.footprints()) {
                if (f.low <= 0) continue;
                const double tau = (f.low - a[2]) / v[2];
                if (tau * horizontal <= 1e-3 || (length > 0 && tau > length)) continue;
                if (windingInside(f, a[0] + tau * v[0], a[1] + tau * v[1])) return Verdict::blocked;
            }
        return unsure ? Verdict::unsure : Verdict::clear;
    }

    struct Outcome {
        bool unsure = false;
        Reception reception = Reception::clear;
        std::optional<double> extraPath;
    };

    Outcome satellite(const Vector& p, double azimuth, double elevation) const
    {
        const Vector u{std::cos(elevation * degree) * std::sin(azimuth * degree),
                       std::cos(elevation * degree) * std::cos(azimuth * degree), std::sin(elevation * degree)};
        Outcome out;
        const Verdict direct = ray(p, u, 0, -1);
        out.unsure = direct == Verdict::unsure;
        // Every wall as a mirror: the signal leaves it along u reflected in the wall's
        // plane, so the antenna sees it coming from the reflected direction.
        std::optional<double> best;
        std::optional<double> bestUnsure;
        for (std::size_t i = 0; i < model_.walls().size(); ++i) {
            const Wall& w = model_.walls()[i];
            const double ex = w.bx - w.ax, ey = w.by - w.ay, len = std::hypot(ex, ey);
            Vector n{-ey / len, ex / len, 0};
            if (dot(n, Vector{p[0] - w.ax, p[1] - w.ay, 0}) < 0) n = {-n[0], -n[1], 0};
            if (dot(n, u) <= 0) continue;
            const Vector arriving{u[0] - 2 * dot(u, n) * n[0], u[1] - 2 * dot(u, n) * n[1], u[2]};
            const double tau = dot(n, Vector{w.ax - p[0], w.ay - p[1], 0}) / dot(n, arriving);
            if (!(tau > 0)) continue;
            const Vector q{p[0] + tau * arriving[0], p[1] + tau * arriving[1], p[2] + tau * arriving[2]};
            const double along = ((q[0] - w.ax) * ex + (q[1] - w.ay) * ey) / len;
            const double inside =
                std::min({along, len - along, q[2] - w.low, q[2] <= w.high ? w.high - q[2] : q[2] - w.high - 1e300});
            const double range = model_.options().reflectionRange - std::hypot(q[0] - p[0], q[1] - p[1]);
            const double extra = tau * (1 - dot(arriving, u));
            bool unsure = std::abs(std::min(inside, range)) < std::tan(0.5 * degree) * tau;
            if (!unsure && std::min(inside, range) < 0) continue;
            const Verdict sky = ray(q, u, 0, static_cast<std::int64_t>(i));
            if (sky == Verdict::blocked) continue;
            const Verdict back = ray(p, arriving, tau - 1e-3, static_cast<std::int64_t>(i));
            if (back == Verdict::blocked) continue;
            unsure |= sky == Verdict::unsure || back == Verdict::unsure;
            auto& slot = unsure ? bestUnsure : best;
            if (!slot || extra < *slot) slot = extra;
        }
        if (bestUnsure && (!best || *bestUnsure <= *best + 1e-6)) out.unsure = true;
        out.extraPath = best;
        out.reception = direct == Verdict::clear ? Reception::clear : best ? Reception::reflected : Reception::blocked;
        return out;
    }

private:
    bool windingInside(const Footprint& f, double x, double y) const
    {
        // Winding numbers: inside the outer ring and in no hole.
        auto winding = [&](FootprintRing ring) {
            int turns = 0;
            for (std::size_t i = 0; i < ring.size(); ++i) {
                const LocalPoint a = ring[i];
                const LocalPoint b = ring[(i + 1) % ring.size()];
                const double side = (b.east - a.east) * (y - a.north) - (x - a.east) * (b.north - a.north);
                if (a.north <= y && b.north > y && side > 0) ++turns;
                if (a.north > y && b.north <= y && side < 0) --turns;
            }
            return turns != 0;
        };
        const FootprintRings rings = model_.rings(f);
        if (!winding(rings.front())) return false;
        for (std::size_t r = 1; r < rings.size(); ++r)
            if (winding(rings[r])) return false;
        return true;
    }

    const StreetModel& model_;
};

void compareWithReference(const char* file, std::uint32_t seed)
{
    const auto model = StreetModel::fromFile(test::dataFile(file), {}, {});
    const Reference reference(model);
    double minEast = 1e9, maxEast = -1e9, minNorth = 1e9, maxNorth = -1e9;
    for (const auto& w : model.walls()) {
        minEast = std::min<double>(minEast, w.ax), maxEast = std::max<double>(maxEast, w.ax);
        minNorth = std::min<double>(minNorth, w.ay), maxNorth = std::max<double>(maxNorth, w.ay);
    }
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> east(minEast + 50, maxEast - 50), north(minNorth + 50, maxNorth - 50);
    std::uniform_real_distribution<double> azimuth(0, 360), elevation(5, 85);
    int compared = 0, unsure = 0, counts[3] = {}, echoes = 0;
    for (int placeIndex = 0; placeIndex < 30; ++placeIndex) {
        Place place;
        do place.point = {east(random), north(random)};
        while (reference.indoors(place.point.east, place.point.north, 1.5));
        const Vector p{place.point.east, place.point.north, 1.5};
        for (int s = 0; s < 10; ++s) {
            const double az = azimuth(random), el = elevation(random);
            const auto expected = reference.satellite(p, az, el);
            if (expected.unsure) {
                ++unsure;
                continue;
            }
            ++compared;
            const auto seen = model.satellite(place, az, el);
            SCOPED_TRACE(testing::Message() << file << " at " << p[0] << ", " << p[1] << " az " << az << " el " << el);
            ASSERT_EQ(seen.reception, expected.reception);
            ++counts[static_cast<int>(seen.reception)];
            ASSERT_EQ(seen.reflection.has_value(), expected.extraPath.has_value());
            if (seen.reflection) {
                echoes += seen.reception == Reception::clear;
                EXPECT_NEAR(seen.reflection->extraPath, *expected.extraPath, 1e-6);
            }
        }
    }
    testing::Test::RecordProperty("compared", compared);
    EXPECT_LT(unsure, compared / 4) << "the reference is unsure too often to judge";
    // The city gives every case, or the comparison proves little.
    EXPECT_GT(counts[0], 10);
    EXPECT_GT(counts[1], 5);
    EXPECT_GT(counts[2], 10);
    EXPECT_GT(echoes, 5);
}

TEST(StreetModel, AgreesWithThePlainReferenceAmongLowerManhattanTowers)
{
    compareWithReference("street/lower-manhattan-cut.osm", 17);
}

TEST(StreetModel, AgreesWithThePlainReferenceOnTheUpperEastSide)
{
    compareWithReference("street/upper-east-side-cut.geojson", 29);
}

// A place asked about many satellites at once sorts its walls by the sectors of the
// horizon they span; asked about one, it looks at every wall. Both give the same answer
// to the bit, for directions on the sectors' edges (north, east, the diagonals), just
// off them, at the mask and above the highest elevation a ray is followed to.
TEST(StreetModel, ManySatellitesAtOnceAnswerAsOneByOne)
{
    const auto model = StreetModel::fromFile(test::dataFile("street/lower-manhattan-cut.osm"), {}, {});
    std::mt19937 random(41);
    std::uniform_real_distribution<double> lat(40.7040, 40.7085), lon(-74.0150, -74.0080);
    std::uniform_real_distribution<double> azimuth(0, 360), elevation(5, 85);
    int places = 0, reflections = 0, echoes = 0, blocked = 0;
    while (places < 60) {
        const Place place = model.place(lat(random), lon(random), std::nullopt);
        if (model.blocked(place.point, 0, 90)) continue;  // indoors
        ++places;
        std::vector<std::pair<double, double>> directions;
        for (int k = 0; k < 8; ++k) {
            directions.emplace_back(45.0 * k, elevation(random));
            directions.emplace_back(std::nextafter(45.0 * k, 400.0), elevation(random));
        }
        directions.emplace_back(azimuth(random), 5.0);
        directions.emplace_back(azimuth(random), 89.995);
        directions.emplace_back(360.0, 20.0);
        while (directions.size() < 40) directions.emplace_back(azimuth(random), elevation(random));
        const auto together = model.satellites(place, directions);
        ASSERT_EQ(together.size(), directions.size());
        for (std::size_t k = 0; k < directions.size(); ++k) {
            const auto [az, el] = directions[k];
            const auto alone = model.satellite(place, az, el);
            SCOPED_TRACE(testing::Message() << "at " << place.point.east << ", " << place.point.north << " az " << az
                                            << " el " << el);
            ASSERT_EQ(together[k].reception, alone.reception);
            ASSERT_EQ(together[k].reflection.has_value(), alone.reflection.has_value());
            blocked += alone.reception == Reception::blocked;
            if (!alone.reflection) continue;
            ++reflections;
            echoes += alone.reception == Reception::clear;
            EXPECT_EQ(together[k].reflection->wall, alone.reflection->wall);
            EXPECT_EQ(together[k].reflection->extraPath, alone.reflection->extraPath);
        }
    }
    // The towers give reflections, echoes and blocked satellites, or this proves little.
    EXPECT_GT(reflections, 100);
    EXPECT_GT(echoes, 20);
    EXPECT_GT(blocked, 100);
}

}  // namespace
}  // namespace trajix::street
