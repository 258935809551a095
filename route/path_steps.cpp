// The path: KML points in the local frame, densified, smoothed, measured.
#include <cmath>
#include <cstdint>
#include <numbers>

#include <fmt/format.h>

#include "common/error.hpp"
#include "route/progress_steps.hpp"
#include "route/route.hpp"

namespace trajix::route {

namespace {

constexpr double frameHeight = 100.0;  // every point is taken at 100 m above the ellipsoid
constexpr double longRouteDistance = 500000.0;
// Bytes per path point: east, north, up, step, distance and turn as doubles.
constexpr std::uint64_t bytesPerPathPoint = 6 * sizeof(double);
constexpr std::uint64_t memoryLimit = std::uint64_t{4} << 30;

double horizontal(double dx, double dy)
{
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

FramePoint toRouteFrame(const RouteState& state, double latitude, double longitude)
{
    GeoState geo = state.geo;
    LatLongToECEF(geo, latitude, longitude, frameHeight);
    ECEFtoENU(geo, geo.ecefX, geo.ecefY, geo.ecefZ);
    return {static_cast<double>(geo.localEast), static_cast<double>(geo.localNorth)};
}

std::pair<double, double> fromRouteFrame(const RouteState& state, double east, double north)
{
    // The frame's points stand at frameHeight: the up that puts the point there (the
    // Earth's curve below the frame's plane), found in two rounds.
    GeoState geo = state.geo;
    long double up = 0;
    for (int round = 0; round < 3; ++round) {
        ENUtoECEF(geo, east, north, up);
        ECEFToLatLong(geo, geo.ecefX, geo.ecefY, geo.ecefZ);
        up -= geo.geoHeight - frameHeight;
    }
    return {static_cast<double>(geo.geoLatitude), static_cast<double>(geo.geoLongitude)};
}

void loadRawPoints(RouteState& state, const std::vector<KmlCoordinate>& points, const RouteCallbacks& callbacks)
{
    state.rawCount = points.size();
    state.rawEast.assign(state.rawCount + 1, 0.0f);
    state.rawNorth.assign(state.rawCount + 1, 0.0f);
    state.rawUp.assign(state.rawCount + 1, 0.0f);
    for (std::size_t n = 1; n <= state.rawCount; ++n) {
        const KmlCoordinate& p = points[n - 1];
        LatLongToECEF(state.geo, p.latitude, p.longitude, frameHeight);
        if (n == 1) {
            state.geo.refX = state.geo.ecefX;
            state.geo.refY = state.geo.ecefY;
            state.geo.refZ = state.geo.ecefZ;
        }
        ECEFtoENU(state.geo, state.geo.ecefX, state.geo.ecefY, state.geo.ecefZ);
        state.rawEast[n] = static_cast<float>(state.geo.localEast);
        state.rawNorth[n] = static_cast<float>(state.geo.localNorth);
        state.rawUp[n] = static_cast<float>(state.geo.localUp);
        if (callbacks.rawPoint) callbacks.rawPoint(state.rawEast[n], state.rawNorth[n]);
    }
    state.interpSpacing = 0.1;
    if (state.rawCount >= 1) {
        const double dx = double(state.rawEast[state.rawCount]) - double(state.rawEast[1]);
        const double dy = double(state.rawNorth[state.rawCount]) - double(state.rawNorth[1]);
        if (horizontal(dx, dy) > longRouteDistance) state.interpSpacing = 1.0;
    }
}

namespace {

std::uint64_t segmentSteps(const RouteState& state, std::size_t n)
{
    const double dx = double(state.rawEast[n + 1]) - double(state.rawEast[n]);
    const double dy = double(state.rawNorth[n + 1]) - double(state.rawNorth[n]);
    return static_cast<std::uint64_t>(std::trunc(horizontal(dx, dy) / state.interpSpacing));
}

}  // namespace

std::size_t densifiedPointCount(const RouteState& state)
{
    std::uint64_t total = 0;
    for (std::size_t n = 1; n + 1 <= state.rawCount; ++n) total += segmentSteps(state, n);
    // The heights, when the route writes them, take one more double per point.
    const std::uint64_t perPoint = bytesPerPathPoint + (state.rawHeight.empty() ? 0 : sizeof(double));
    const std::uint64_t bytes = (total + 2) * perPoint;
    if (total > memoryLimit / perPoint)
        throw Error(fmt::format("the route would need {} path points ({:.1f} GiB), more than the 4 GiB allowed", total,
                                double(bytes) / double(std::uint64_t{1} << 30)));
    return static_cast<std::size_t>(total);
}

void densifyPath(RouteState& state, ProgressSink& progress)
{
    const std::size_t count = densifiedPointCount(state);
    // One spare element: a segment too short to step still stores its start point.
    state.pathEast.assign(count + 2, 0.0);
    state.pathNorth.assign(count + 2, 0.0);
    state.pathUp.assign(count + 2, 0.0);
    const bool heights = !state.rawHeight.empty();
    state.pathHeight.assign(heights ? count + 2 : 0, 0.0);
    StepProgress gauge(progress, "Interpolating data points", static_cast<long long>(state.rawCount) - 1);
    std::size_t k = 1;
    for (std::size_t n = 1; n + 1 <= state.rawCount; ++n) {
        gauge.at(static_cast<long long>(n));
        const double dx = double(state.rawEast[n + 1]) - double(state.rawEast[n]);
        const double dy = double(state.rawNorth[n + 1]) - double(state.rawNorth[n]);
        const double dz = double(state.rawUp[n + 1]) - double(state.rawUp[n]);
        const std::uint64_t m = segmentSteps(state, n);
        state.pathEast[k] = state.rawEast[n];
        state.pathNorth[k] = state.rawNorth[n];
        state.pathUp[k] = state.rawUp[n];
        const double md = static_cast<double>(m);
        for (std::uint64_t j = 1; j < m; ++j) {
            state.pathEast[k + j] = state.pathEast[k + j - 1] + dx / md;
            state.pathNorth[k + j] = state.pathNorth[k + j - 1] + dy / md;
            state.pathUp[k + j] = state.pathUp[k + j - 1] + dz / md;
        }
        if (heights) {
            const double dh = double(state.rawHeight[n + 1]) - double(state.rawHeight[n]);
            state.pathHeight[k] = state.rawHeight[n];
            for (std::uint64_t j = 1; j < m; ++j) state.pathHeight[k + j] = state.pathHeight[k + j - 1] + dh / md;
        }
        k += m;
    }
    state.pathCount = k - 1;
    if (state.pathCount < 3)
        throw Error(
            fmt::format("the path is too short to drive: {} KML point(s) give {} path point(s) at {} m spacing, "
                        "at least 3 are needed",
                        state.rawCount, state.pathCount, state.interpSpacing));
    state.pathEast.resize(state.pathCount + 1);
    state.pathNorth.resize(state.pathCount + 1);
    state.pathUp.resize(state.pathCount + 1);
    if (heights) state.pathHeight.resize(state.pathCount + 1);
}

namespace {

// out_i = ((F-1) * out_(i-1) + p_i) / F, started at p[first], kept as the running
// accumulator the filter has always used.
template <typename Index>
void lowPass(std::vector<double>& p, double factor, std::size_t first, Index next, std::size_t count)
{
    double accumulator = (factor - 1) * p[first];
    std::size_t i = first;
    for (std::size_t n = 0; n < count; ++n, i = next(i)) {
        accumulator += p[i];
        const double out = accumulator / factor;
        accumulator -= out;
        p[i] = out;
    }
}

}  // namespace

void smoothPath(RouteState& state, ProgressSink& progress, const RouteCallbacks& callbacks)
{
    const std::size_t count = state.pathCount;
    const double factor = state.smoothFactor;
    StepProgress gauge(progress, "Smoothing data points", static_cast<long long>(count));
    gauge.at(0);
    const auto forward = [](std::size_t i) { return i + 1; };
    const auto backward = [](std::size_t i) { return i - 1; };
    lowPass(state.pathEast, factor, 1, forward, count);
    lowPass(state.pathNorth, factor, 1, forward, count);
    lowPass(state.pathEast, factor, count, backward, count);
    lowPass(state.pathNorth, factor, count, backward, count);
    gauge.at(static_cast<long long>(count / 2));
    // The chart takes every 50th point of the backward pass, starting where it starts.
    if (callbacks.smoothedPoint)
        for (std::size_t i = count; i >= 1; i = i > 50 ? i - 50 : 0)
            callbacks.smoothedPoint(state.pathEast[i], state.pathNorth[i]);
}

void calculateDistances(RouteState& state, ProgressSink& progress)
{
    StepProgress gauge(progress, "Calculating distances", static_cast<long long>(state.pathCount));
    state.pathStep.assign(state.pathCount + 1, 0.0);
    state.pathDistance.assign(state.pathCount + 1, 0.0);
    for (std::size_t i = 1; i <= state.pathCount; ++i) {
        gauge.at(static_cast<long long>(i));
        if (i > 1)
            state.pathStep[i] =
                horizontal(state.pathEast[i] - state.pathEast[i - 1], state.pathNorth[i] - state.pathNorth[i - 1]);
        state.pathDistance[i] = state.pathDistance[i - 1] + state.pathStep[i];
    }
}

void calculateDeflections(RouteState& state, ProgressSink& progress)
{
    StepProgress gauge(progress, "Calculating corner radii", static_cast<long long>(state.pathCount));
    state.pathTurn.assign(state.pathCount + 1, 0.0);
    const auto& e = state.pathEast;
    const auto& n = state.pathNorth;
    for (std::size_t i = 2; i + 1 <= state.pathCount; ++i) {
        gauge.at(static_cast<long long>(i));
        const double bc = horizontal(e[i + 1] - e[i], n[i + 1] - n[i]);
        const double ac = horizontal(e[i - 1] - e[i + 1], n[i - 1] - n[i + 1]);
        const double ab = horizontal(e[i - 1] - e[i], n[i - 1] - n[i]);
        double cosB = 2;
        if (bc * ab != 0) cosB = (ac * ac - bc * bc - ab * ab) / (-2 * bc * ab);
        if (cosB > 1) cosB = 1;
        if (cosB < -1) cosB = -1;
        double turn = 180 - std::acos(cosB) * 180 / std::numbers::pi;
        if (turn < 0) turn = 0;
        state.pathTurn[i] = turn;
    }
}

void squareChartRanges(double& minX, double& maxX, double& minY, double& maxY)
{
    const double rangeX = maxX - minX;
    const double rangeY = maxY - minY;
    if (rangeX == rangeY) return;
    const double half = std::trunc(std::fabs(rangeX - rangeY)) / 2;
    if (rangeX < rangeY) {
        minX -= half;
        maxX += half;
    } else {
        minY -= half;
        maxY += half;
    }
}

}  // namespace trajix::route
