#pragma once
// Physical checks of written routes, shared by the ordinary and the slow suite: random
// drawn paths of the kinds people draw and record, and a measure of speed, lateral and
// longitudinal acceleration taken from the written NMEA positions alone (GeographicLib
// for latitude and longitude to local metres, central differences over 0.25 s).
#include <gtest/gtest.h>
#include <GeographicLib/LocalCartesian.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "route/route.hpp"
#include "test_support.hpp"

namespace trajix::test::limits {

constexpr double g = 9.81;
constexpr double pi = 3.141592653589793;

struct Point {
    double east = 0, north = 0;
};

/// A drawn path in local metres, with what it is for messages.
struct DrawnPath {
    std::string kind;
    std::vector<Point> points;
};

/// Draws paths with a turtle: points every `spacing` metres along straights and arcs.
class Turtle {
public:
    explicit Turtle(double heading) : heading_(heading) { path_.push_back({0, 0}); }
    void straight(double length, double spacing)
    {
        const int n = std::max(1, static_cast<int>(std::lround(length / spacing)));
        for (int i = 0; i < n; ++i) step(length / n, 0);
    }
    /// An arc of the given radius turning by angle radians (left positive).
    void arc(double radius, double angle, double spacing)
    {
        const double length = radius * std::fabs(angle);
        const int n = std::max(1, static_cast<int>(std::lround(length / spacing)));
        for (int i = 0; i < n; ++i) step(length / n, angle / n);
    }
    /// A spiral whose radius shrinks linearly from r0 to r1 while turning by angle.
    void spiral(double r0, double r1, double angle, double spacing)
    {
        const int n = std::max(8, static_cast<int>(std::lround((r0 + r1) / 2 * std::fabs(angle) / spacing)));
        for (int i = 0; i < n; ++i) {
            const double r = r0 + (r1 - r0) * (i + 0.5) / n;
            step(r * std::fabs(angle) / n, angle / n);
        }
    }
    void turnBy(double angle) { heading_ += angle; }
    std::vector<Point> points() const { return path_; }

private:
    void step(double length, double turn)
    {
        heading_ += turn / 2;
        const Point& p = path_.back();
        path_.push_back({p.east + length * std::cos(heading_), p.north + length * std::sin(heading_)});
        heading_ += turn / 2;
    }
    double heading_;
    std::vector<Point> path_;
};

/// One random path of kind (0..5): hairpin, S-bends, shrinking spiral, long straight
/// with a corner, a wandering track recorded every 0.5 m, legs 5 km long.
inline DrawnPath drawPath(int kind, std::mt19937_64& rng)
{
    std::uniform_real_distribution<double> u(0, 1);
    const auto in = [&](double lo, double hi) { return lo + (hi - lo) * u(rng); };
    const double side = u(rng) < 0.5 ? -1 : 1;
    Turtle t(in(0, 2 * pi));
    DrawnPath d;
    switch (kind) {
        case 0: {
            d.kind = "hairpin";
            t.straight(in(80, 300), in(5, 100));
            t.arc(in(3, 30), side * in(2.6, 3.14), in(0.5, 4));
            t.straight(in(80, 300), in(5, 100));
            if (u(rng) < 0.5) {  // a second hairpin back
                t.arc(in(3, 30), -side * in(2.6, 3.14), in(0.5, 4));
                t.straight(in(30, 200), in(5, 100));
            }
            break;
        }
        case 1: {
            d.kind = "S-bends";
            t.straight(in(50, 200), 50);
            const int bends = 2 + static_cast<int>(u(rng) * 4);
            double s = side;
            for (int b = 0; b < bends; ++b, s = -s) {
                t.arc(in(8, 80), s * in(0.5, 2.0), in(1, 6));
                if (u(rng) < 0.5) t.straight(in(1, 30), 5);
            }
            t.straight(in(50, 200), 50);
            break;
        }
        case 2: {
            d.kind = "shrinking spiral";
            t.straight(in(100, 400), 100);
            t.spiral(in(60, 200), in(4, 20), side * in(3, 9), in(1, 5));
            t.straight(in(50, 200), 50);
            break;
        }
        case 3: {
            d.kind = "long straight";
            t.straight(in(800, 2500), in(400, 2500));
            t.turnBy(side * in(0.3, 2.0));  // a sharp corner at a single point
            t.straight(in(100, 800), in(100, 800));
            break;
        }
        case 4: {
            d.kind = "track every 0.5 m";
            double curvature = 0;
            const int n = 1000 + static_cast<int>(u(rng) * 2000);
            for (int i = 0; i < n; ++i) {
                curvature = std::clamp(curvature + in(-0.004, 0.004), -0.08, 0.08);
                t.arc(1 / std::max(std::fabs(curvature), 1e-6), 0.5 * curvature, 0.5);
            }
            break;
        }
        default: {
            d.kind = "legs 5 km apart";
            const int legs = 1 + static_cast<int>(u(rng) * 2);
            for (int i = 0; i < legs; ++i) {
                t.straight(5000, 5000);
                t.turnBy(side * in(0.2, 2.5));
            }
            t.straight(5000, 5000);
            break;
        }
    }
    d.points = t.points();
    return d;
}

/// KML text of a path placed at latitude, longitude (degrees), 12 decimals as Google
/// Earth writes them.
inline std::string kmlOf(const std::vector<Point>& points, double latitude, double longitude)
{
    const GeographicLib::LocalCartesian frame(latitude, longitude, 0);
    std::string text = "<kml><Document><Placemark><LineString><coordinates>\n";
    for (const Point& p : points) {
        double lat, lon, h;
        frame.Reverse(p.east, p.north, 0, lat, lon, h);
        text += fmt::format("{:.12f},{:.12f},0 ", lon, lat);
    }
    text += "\n</coordinates></LineString></Placemark></Document></kml>\n";
    return text;
}

/// The highest values measured in a written file.
struct Measured {
    double speed = 0, lateral = 0, longitudinal = 0;  ///< m/s, m/s^2, m/s^2
    double slowAcceleration = 0;                      ///< m/s^2: the whole acceleration where slower than 0.3 m/s
    double lateralAt = 0;                             ///< s from the first fix, where lateral peaked
    std::size_t fixes = 0;
};

/// Speed and accelerations from the GGA positions of an NMEA text written at rate Hz,
/// positions to local metres by GeographicLib. The speed along the path from the
/// distances between fixes (the highest of one interval, and at each fix a fourth-order
/// central difference); the longitudinal acceleration by central differences over
/// `baseline` seconds; the lateral one as v^2 times the curvature of the circle through
/// the fix and the fixes on either side at least 1 m away (the written path is a
/// polyline of 0.1 m steps, whose kinks a shorter chord would take for curvature), at
/// most twice the baseline. A speed from a plain central difference would run high at
/// every speed minimum (by J h^2 / 6), which lies in the tightest spot of each corner.
inline Measured measureNmea(const std::string& nmea, double rate, double baseline = 0.25)
{
    std::vector<Point> p;
    GeographicLib::LocalCartesian frame;
    bool first = true;
    std::size_t start = 0;
    while (start < nmea.size()) {
        std::size_t end = nmea.find("\r\n", start);
        if (end == std::string::npos) end = nmea.size();
        const std::string line = nmea.substr(start, end - start);
        start = end + 2;
        if (line.rfind("$GPGGA,", 0) != 0) continue;
        std::vector<std::string> f;
        std::size_t a = 0;
        for (;;) {
            const std::size_t b = line.find(',', a);
            f.push_back(line.substr(a, b == std::string::npos ? std::string::npos : b - a));
            if (b == std::string::npos) break;
            a = b + 1;
        }
        const auto degrees = [](const std::string& text, int degreeDigits, const std::string& hemisphere) {
            const double d = std::stod(text.substr(0, static_cast<std::size_t>(degreeDigits)));
            const double m = std::stod(text.substr(static_cast<std::size_t>(degreeDigits)));
            const double value = d + m / 60;
            return hemisphere == "S" || hemisphere == "W" ? -value : value;
        };
        const double lat = degrees(f[2], 2, f[3]), lon = degrees(f[4], 3, f[5]);
        if (first) frame.Reset(lat, lon, 0);
        first = false;
        double x, y, z;
        frame.Forward(lat, lon, 0, x, y, z);
        p.push_back({x, y});
    }
    Measured m;
    m.fixes = p.size();
    const double dt = 1 / rate;
    std::vector<double> along(p.size(), 0.0);  // distance along the written path, m
    for (std::size_t i = 1; i < p.size(); ++i) {
        const double step = std::hypot(p[i].east - p[i - 1].east, p[i].north - p[i - 1].north);
        along[i] = along[i - 1] + step;
        m.speed = std::max(m.speed, step / dt);
    }
    const auto k = static_cast<std::size_t>(std::max(1L, std::lround(baseline * rate)));
    const double h = static_cast<double>(k) * dt;
    const auto chord = [&](std::size_t a, std::size_t b) {
        return std::hypot(p[b].east - p[a].east, p[b].north - p[a].north);
    };
    for (std::size_t i = 2 * k; i + 2 * k < p.size(); ++i) {
        const double v = (8 * (along[i + 1] - along[i - 1]) - (along[i + 2] - along[i - 2])) / (12 * dt);
        const double longitudinal = std::fabs(along[i + k] - 2 * along[i] + along[i - k]) / (h * h);
        if (v <= 0.3) {
            // Too slow for a direction to split along and across.
            const double ax = (p[i + k].east - 2 * p[i].east + p[i - k].east) / (h * h);
            const double ay = (p[i + k].north - 2 * p[i].north + p[i - k].north) / (h * h);
            m.slowAcceleration = std::max(m.slowAcceleration, std::hypot(ax, ay));
            continue;
        }
        m.longitudinal = std::max(m.longitudinal, longitudinal);
        std::size_t j = 1;
        while (j < 2 * k && (chord(i - j, i) < 1 || chord(i, i + j) < 1)) ++j;
        const double bx = p[i].east - p[i - j].east, by = p[i].north - p[i - j].north;
        const double fx = p[i + j].east - p[i].east, fy = p[i + j].north - p[i].north;
        const double back = std::hypot(bx, by), forward = std::hypot(fx, fy), across = std::hypot(bx + fx, by + fy);
        const double curvature =
            back * forward * across > 0 ? 2 * std::fabs(bx * fy - by * fx) / (back * forward * across) : 0;
        const double lateral = v * v * curvature;
        if (lateral > m.lateral) {
            m.lateral = lateral;
            m.lateralAt = static_cast<double>(i) * dt;
        }
    }
    return m;
}

/// Limit sets the random routes are driven at: the defaults, slow and gentle, fast,
/// the jerk floor with little smoothing, hard, and 10 Hz output.
inline std::vector<route::RouteParameters> limitSets()
{
    std::vector<route::RouteParameters> sets(6);
    sets[1].maxSpeedKmh = 60, sets[1].maxLatAccG = 0.3, sets[1].maxLongAccG = 0.2, sets[1].maxJerkGs = 0.5;
    sets[2].maxSpeedKmh = 150, sets[2].maxLatAccG = 0.8, sets[2].maxLongAccG = 0.5, sets[2].maxJerkGs = 1;
    sets[3].maxSpeedKmh = 40, sets[3].maxLatAccG = 0.15, sets[3].maxLongAccG = 0.1, sets[3].maxJerkGs = 0.1;
    sets[3].smoothFactor = 20;
    sets[4].maxSpeedKmh = 250, sets[4].maxLatAccG = 1.5, sets[4].maxLongAccG = 1.2, sets[4].maxJerkGs = 5;
    sets[4].smoothFactor = 40;
    sets[5].outputRate = 10, sets[5].maxLatAccG = 0.5, sets[5].maxLongAccG = 0.4;
    for (auto& p : sets) p.stationaryStart = 1, p.stationaryEnd = 1;
    return sets;
}

// Tolerances of the measure. Printed positions are rounded to 1e-8 minutes (2 cm /
// 1000); over 0.25 s that is about 0.001 m/s^2. The written path is a polyline of
// 0.1 m steps and the limit is held at its points, the integration ends a stretch a few
// millimetres from its plan, and the check lets v^2 / r run 0.2 % over: 1.5 % of the
// limit and 0.02 m/s^2 cover them all with room. Speed: 0.1 % and 2 mm/s.
constexpr double accelerationShare = 0.015, accelerationFloor = 0.02;
constexpr double speedShare = 0.001, speedFloor = 0.002;

/// Drives `count` random paths (kinds and limit sets in turn, seeds from firstSeed)
/// and expects every written sample to hold every limit.
inline void expectRandomRoutesHoldLimits(int count, std::uint64_t firstSeed)
{
    TempDir dir;
    const auto sets = limitSets();
    for (int n = 0; n < count; ++n) {
        const std::uint64_t seed = firstSeed + static_cast<std::uint64_t>(n);
        std::mt19937_64 rng(seed);
        const DrawnPath drawn = drawPath(n % 6, rng);
        const route::RouteParameters& p = sets[static_cast<std::size_t>(n / 6) % sets.size()];
        writeFileBytes(dir / "path.kml", kmlOf(drawn.points, -33.9 + 80 * std::uniform_real_distribution<>(0, 1)(rng),
                                               -170 + 340 * std::uniform_real_distribution<>(0, 1)(rng)));
        NullProgress progress;
        ScriptedPrompt prompt;
        const auto what = fmt::format(
            "seed {} ({}, {} points), limits {} km/h, {} g lateral, {} g along, {} g/s, "
            "smoothing {}, {} Hz",
            seed, drawn.kind, drawn.points.size(), p.maxSpeedKmh, p.maxLatAccG, p.maxLongAccG, p.maxJerkGs,
            p.smoothFactor, p.outputRate);
        route::RouteState state;
        try {
            state = route::LoadKML(dir / "path.kml", p, dir / "out.txt", progress, prompt);
        } catch (const std::exception& e) {
            ADD_FAILURE() << what << ": " << e.what();
            continue;
        }
        // The overshoot diagnostic of a plan the check left alone stays as it was (the first
        // plan lets a stretch run up to 0.1 m long); one the check changed fits its stretches.
        if (state.limitCorners > 0) {
            EXPECT_TRUE(prompt.messages.empty()) << what << ": " << prompt.messages.front();
        }
        const Measured m = measureNmea(readFileBytes(dir / "out.txt"), p.outputRate);
        const double maxSpeed = p.maxSpeedKmh / 3.6, maxLat = p.maxLatAccG * g, maxLong = p.maxLongAccG * g;
        EXPECT_LE(m.speed, maxSpeed * (1 + speedShare) + speedFloor) << what;
        EXPECT_LE(m.lateral, maxLat * (1 + accelerationShare) + accelerationFloor)
            << what << ": " << m.lateral / g << " g at " << m.lateralAt << " s";
        EXPECT_LE(m.longitudinal, maxLong * (1 + accelerationShare) + accelerationFloor) << what;
        EXPECT_LE(m.slowAcceleration, std::max(maxLat, maxLong) * (1 + accelerationShare) + accelerationFloor) << what;
        // The summary reports what the file shows, within the limits.
        EXPECT_LE(state.maxLateralAcc, maxLat * (1 + accelerationShare) + accelerationFloor) << what;
        EXPECT_LE(state.maxLongitudinalAcc, maxLong * (1 + accelerationShare) + accelerationFloor) << what;
        EXPECT_GE(state.maxLateralAcc, m.lateral * 0.97 - accelerationFloor) << what;
        EXPECT_GE(state.maxLongitudinalAcc, m.longitudinal * 0.97 - accelerationFloor) << what;
    }
}

}  // namespace trajix::test::limits
