// Corners, the jerk-limited plan of each stretch, and driving it through time.
#include <algorithm>
#include <cmath>
#include <numbers>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/picture.hpp"
#include "common/units.hpp"
#include "route/progress_steps.hpp"
#include "route/route.hpp"

namespace trajix::route {

namespace {

constexpr double maxCircleLength = 500.0;  // m: no corner radius above 500 / 2 pi
constexpr int minCornerSpacing = 10;       // path points between two corners, exclusive
constexpr double stepTime = 0.0001;        // s: integration step
constexpr double lengthTolerance = 0.1;    // m: how far a stretch may end from its corner
constexpr double stillSpeed = 0.01;        // m/s: a stretch whose peak is this slow is not driven
constexpr int feasibilityHalvings = 60;

void dropRise(SegmentProfile& p)
{
    p.S1 = p.S2 = p.S3 = 0;
    p.riseDistance = 0;
}

void dropFall(SegmentProfile& p)
{
    p.S4 = p.S5 = p.S6 = 0;
    p.fallDistance = 0;
}

// Neither the rise nor the fall reaches the acceleration limit: the peak becomes the
// faster end and only the other half of the profile is left.
void peakAtFasterEnd(SegmentProfile& p, double endSpeed, double startSpeed)
{
    if (startSpeed > endSpeed) {
        p.peakSpeed = startSpeed;
        p.decelHalf = (startSpeed - endSpeed) / 2;
        p.accelHalf = 0;
        dropRise(p);
        recalcS4S5S6(p, endSpeed, startSpeed);
    } else {
        p.peakSpeed = endSpeed;
        p.accelHalf = (endSpeed - startSpeed) / 2;
        p.decelHalf = 0;
        dropFall(p);
        recalcS1S2S3(p, endSpeed, startSpeed);
    }
}

// Both ends at rest on a stretch too short for the S-curves up to the maximum speed and
// down again: lowering the peak to an end speed would leave nothing to drive (a 219 m
// route at 0.1 g/s was refused). The peak becomes the highest one whose rise and fall fit.
void fastestPeakThatFits(SegmentProfile& p, double maxSpeed, double endSpeed, double startSpeed)
{
    const auto needed = [&](double peak) {
        p.peakSpeed = peak;
        recalcS1S2S3(p, endSpeed, startSpeed);
        recalcS4S5S6(p, endSpeed, startSpeed);
        return p.riseDistance + p.fallDistance;
    };
    double lo = std::max(startSpeed, endSpeed), hi = maxSpeed;
    for (int h = 0; h < feasibilityHalvings; ++h) {
        const double mid = (lo + hi) / 2;
        if (needed(mid) > p.segmentLength)
            hi = mid;
        else
            lo = mid;
    }
    needed(lo);
}

}  // namespace

void recalcS1S2S3(SegmentProfile& p, double /*endSpeed*/, double startSpeed)
{
    const double J = p.maxJerk, A = p.maxLongAcc, vs = startSpeed, vp = p.peakSpeed;
    p.accelHalf = (vp - vs) / 2;
    p.accelTrapezoid = p.accelHalf >= p.jerkSpeedGain;
    if (p.accelTrapezoid) {
        p.accelHalf = p.jerkSpeedGain;
        const double tj = std::sqrt(2 * p.accelHalf / J);
        p.S1 = vs * tj + J * tj * tj * tj / 6;
        const double ta = (vp - vs - 2 * p.accelHalf) / A;
        p.S2 = (vs + p.accelHalf) * ta + A * ta * ta / 2;
        p.S3 = vp * A / J - A * A * A / (6 * J * J);
    } else {
        const double t = std::sqrt((vp - vs) / J);
        p.S1 = vs * t + J * t * t * t / 6;
        p.S2 = 0;
        p.S3 = t * (vs + p.accelHalf) + J * t * t * t / 3;
    }
    p.riseDistance = p.S1 + p.S2 + p.S3;
}

void recalcS4S5S6(SegmentProfile& p, double endSpeed, double /*startSpeed*/)
{
    const double J = p.maxJerk, A = p.maxLongAcc, ve = endSpeed, vp = p.peakSpeed;
    p.decelHalf = (vp - ve) / 2;
    p.decelTrapezoid = p.decelHalf >= p.jerkSpeedGain;
    if (p.decelTrapezoid) {
        p.decelHalf = p.jerkSpeedGain;
        const double t = A / J;
        p.S4 = vp * t - J * t * t * t / 6;
        const double tb = (vp - ve - 2 * p.decelHalf) / A;
        p.S5 = (vp - p.decelHalf) * tb - A * tb * tb / 2;
        p.S6 = t * (ve + p.decelHalf) - A * t * t / 2 + J * t * t * t / 6;
    } else {
        const double root = std::sqrt(vp - ve);
        p.S4 = root * (ve + 5 * vp) / (6 * std::sqrt(J));
        p.S5 = 0;
        p.S6 = root * (vp + 5 * ve) / (6 * std::sqrt(J));
    }
    p.fallDistance = p.S4 + p.S5 + p.S6;
}

void calcDistance(SegmentProfile& p, double segmentLength, double endSpeed, double startSpeed)
{
    const double J = p.maxJerk, A = p.maxLongAcc, vs = startSpeed, ve = endSpeed, L = segmentLength;
    const double maxSpeed = p.peakSpeed;
    p.segmentLength = L;
    p.startSpeed = vs;
    p.endSpeed = ve;
    p.jerkSpeedGain = A * A / (2 * J);
    recalcS1S2S3(p, ve, vs);
    recalcS4S5S6(p, ve, vs);

    if (p.riseDistance + p.fallDistance > L) {
        if (p.accelTrapezoid && !p.decelTrapezoid) {
            p.peakSpeed = ve;
            dropFall(p);
            recalcS1S2S3(p, ve, vs);
        } else if (p.decelTrapezoid && !p.accelTrapezoid) {
            p.peakSpeed = vs;
            dropRise(p);
            recalcS4S5S6(p, ve, vs);
        } else if (!p.accelTrapezoid && !p.decelTrapezoid) {
            peakAtFasterEnd(p, ve, vs);
        } else {
            // Both halves reach the acceleration limit. With the jerk times tj and tk
            // fixed, S1 and S6 are constants, S3 and S4 linear and S2 and S5 quadratic
            // in the peak speed x:
            //   S2 = (x - vs - 2 ah)(x + vs) / 2A,  S3 = x tj - J tj^3 / 6,
            //   S4 = x tk - J tk^3 / 6,             S5 = (x - ve - 2 dh)(x + ve) / 2A.
            const double ah = p.accelHalf, dh = p.decelHalf;
            const double tj = std::sqrt(2 * ah / J);
            const double tk = std::sqrt(2 * dh / J);
            const double s1 = vs * tj + J * tj * tj * tj / 6;
            const double s6 = tk * (ve + dh) - A * tk * tk / 2 + J * tk * tk * tk / 6;
            const double Q = 1 / A;
            const double P = tj + tk - (ah + dh) / A;
            const double N = s1 + s6 - J * tj * tj * tj / 6 - J * tk * tk * tk / 6 - (vs * vs + 2 * ah * vs) / (2 * A) -
                             (ve * ve + 2 * dh * ve) / (2 * A) - L;
            const double discriminant = P * P - 4 * Q * N;
            double vp;
            if (discriminant > 0)
                vp = (std::sqrt(discriminant) - P) / (2 * Q);
            else
                vp = std::max(vs, ve);
            p.peakSpeed = vp;

            p.accelHalf = (vp - vs) / 2;
            if (p.accelHalf > 0) {
                recalcS1S2S3(p, ve, vs);
            } else {
                p.accelTrapezoid = false;
                dropRise(p);
            }
            p.decelHalf = (vp - ve) / 2;
            if (p.decelHalf > 0) {
                recalcS4S5S6(p, ve, vs);
            } else {
                p.decelTrapezoid = false;
                dropFall(p);
            }
            if (vs > p.peakSpeed && (2 * p.decelHalf > p.peakSpeed - ve || ve > p.peakSpeed))
                peakAtFasterEnd(p, ve, vs);
            if (vs > p.peakSpeed) {
                p.peakSpeed = vs;
                dropRise(p);
                recalcS4S5S6(p, ve, vs);
            }
            if (p.peakSpeed - ve < 2 * p.decelHalf - 0.00001 || ve > p.peakSpeed) {
                p.peakSpeed = ve;
                dropFall(p);
                recalcS1S2S3(p, ve, vs);
            }
        }
    }
    if (p.peakSpeed <= stillSpeed && startSpeed <= stillSpeed && endSpeed <= stillSpeed && L > 0)
        fastestPeakThatFits(p, maxSpeed, endSpeed, startSpeed);
    p.neededDistance = p.riseDistance + p.fallDistance;
}

void findCorners(RouteState& state, ProgressSink& progress)
{
    StepProgress gauge(progress, "Calculating minimum speed in turns", static_cast<long long>(state.pathCount));
    const std::size_t count = state.pathCount;
    const auto circleLength = [&](std::size_t j) {
        double c = maxCircleLength;
        if (state.pathTurn[j] != 0) c = 360 / state.pathTurn[j] * state.pathStep[j];
        return c > maxCircleLength ? maxCircleLength : c;
    };
    state.corners.clear();
    state.corners.push_back({0, 0, 0});
    std::size_t lastCorner = 0;
    for (std::size_t i = 2; i + 1 <= count; ++i) {
        gauge.at(static_cast<long long>(i));
        const double here = circleLength(i);
        const bool localMinimum = circleLength(i - 1) > here && here < circleLength(i + 1) &&
                                  i - lastCorner > static_cast<std::size_t>(minCornerSpacing);
        if (!localMinimum && i != count - 1) continue;
        lastCorner = i;
        double radius = here / (2 * std::numbers::pi);
        if (radius < 0) radius = 0;
        const double speed = std::sqrt(radius * state.maxLatAcc);
        if (speed < state.maxSpeed)
            state.corners.push_back({speed, state.pathDistance[i], static_cast<std::int32_t>(i)});
    }
    state.corners.push_back({0, state.pathDistance[count - 1] + 0.0001, static_cast<std::int32_t>(count - 1)});
}

namespace {

SegmentProfile freshProfile(const RouteState& state)
{
    SegmentProfile p;
    p.maxJerk = state.maxJerk;
    p.maxLongAcc = state.maxLongAcc;
    p.peakSpeed = state.maxSpeed;
    return p;
}

}  // namespace

void makeCornersFeasible(RouteState& state)
{
    auto& corners = state.corners;
    // A change at stretch k only alters stretches k-1 and k, and every stretch before
    // k-1 was checked with its present speeds, so going back one stretch ends in the
    // same list as starting over from the first.
    for (std::size_t k = 0; k + 1 < corners.size();) {
        const double length = corners[k + 1].cornerDistance - corners[k].cornerDistance;
        SegmentProfile p = freshProfile(state);
        calcDistance(p, length, corners[k + 1].cornerSpeed, corners[k].cornerSpeed);
        if (!(length + lengthTolerance < p.neededDistance)) {
            ++k;
            continue;
        }
        if (corners[k].cornerSpeed > corners[k + 1].cornerSpeed) {
            corners[k].cornerSpeed = corners[k + 1].cornerSpeed;
        } else {
            // Lower the far end to the fastest speed the stretch can reach in its length.
            double lo = corners[k].cornerSpeed, hi = corners[k + 1].cornerSpeed;
            for (int h = 0; h < feasibilityHalvings; ++h) {
                const double mid = (lo + hi) / 2;
                SegmentProfile trial = freshProfile(state);
                calcDistance(trial, length, mid, corners[k].cornerSpeed);
                if (trial.neededDistance > length)
                    hi = mid;
                else
                    lo = mid;
            }
            corners[k + 1].cornerSpeed = lo;
        }
        k = k > 0 ? k - 1 : 0;
    }
}

namespace {

// Takes a sample after a step whose route-wide count is a multiple of intervalTicks.
// The distance and the step count live in registers between samples: the state gets
// them back at every sample (before anything outside may look) and at the end.
struct Sampler {
    RouteState& state;
    const RouteCallbacks& callbacks;
    std::int64_t countdown;  // steps until the next sample
    double route;            // state.routeDistance
    std::int64_t steps;      // state.stepCount

    void afterStep(double v)
    {
        if (countdown == 0) takeSample(v);
        --countdown;
        ++steps;
    }
    [[gnu::noinline]] void takeSample(double v)
    {
        flush();
        if (callbacks.speedPoint) callbacks.speedPoint(state.profileTime, v * kmhPerMetrePerSecond);
        state.profileTime += state.outputInterval;
        state.sampleSpeed.push_back(v);
        state.sampleDistance.push_back(state.routeDistance);
        ++state.sampleCount;
        countdown = state.intervalTicks;
    }
    void flush()
    {
        state.routeDistance = route;
        state.stepCount = steps;
    }
};

}  // namespace

void plotSpeedProfile(RouteState& state, double segmentLength, double endSpeed, double startSpeed,
                      const RouteCallbacks& callbacks, UserPrompt& prompt)
{
    const SegmentProfile& p = state.profile;
    const double J = state.maxJerk, dt = stepTime, L = segmentLength, vs = startSpeed, ve = endSpeed;
    const double vp = p.peakSpeed;
    // Copies, so that the loops need not read them back from the state after each sample.
    const double accelHalf = p.accelHalf, decelHalf = p.decelHalf, fallDistance = p.fallDistance;
    if (vp <= stillSpeed) return;
    const double half = dt * dt / 2;

    const std::int64_t phase = state.stepCount % state.intervalTicks;
    Sampler sampler{state, callbacks, phase == 0 ? 0 : state.intervalTicks - phase, state.routeDistance,
                    state.stepCount};
    double v = vs, a = 0, s = 0;
    const auto advance = [&](double ds) {
        s += ds;
        sampler.route += ds;
    };

    if (vs < vp) {
        while (v < vs + accelHalf) {
            a += J * dt;
            advance(v * dt + a * half);
            v += a * dt;
            sampler.afterStep(v);
        }
        // The constant-acceleration phase needs an acceleration to end.
        while (v + accelHalf < vp && a > 0) {
            v += a * dt;
            advance(v * dt + a * half);
            sampler.afterStep(v);
        }
        while (a > 0) {
            a -= J * dt;
            advance(v * dt + a * half);
            v += a * dt;
            sampler.afterStep(v);
        }
    }
    // Cruise; a standstill here would never reach the end of the stretch.
    while (L - fallDistance > s && v > 0) {
        a = 0;
        advance(v * dt);
        sampler.afterStep(v);
    }
    if (vp > ve) {
        while (v > vp - decelHalf) {
            a -= J * dt;
            advance(v * dt + a * half);
            v += a * dt;
            sampler.afterStep(v);
        }
        while (v > ve + decelHalf && a < 0) {
            v += a * dt;
            advance(v * dt + a * half);
            sampler.afterStep(v);
        }
        while (a < 0) {
            a += J * dt;
            advance(v * dt + a * half);
            v += a * dt;
            sampler.afterStep(v);
        }
    }
    sampler.flush();
    if (s > L + lengthTolerance || s < L - lengthTolerance)
        prompt.information(fmt::format("{} {} {} {}", formatPicture(vs, "000.00"), formatPicture(ve, "000.00"),
                                       formatPicture(vp, "000.00"), formatPicture(s, "000.00")));
}

void runProfilePass(RouteState& state, const RouteParameters& parameters, ProgressSink& progress,
                    const RouteCallbacks& callbacks, UserPrompt& prompt)
{
    const auto& corners = state.corners;
    StepProgress gauge(progress, "Calculating corner speeds", static_cast<long long>(corners.size()) - 2);
    state.sampleSpeed.clear();
    state.sampleDistance.clear();
    state.sampleCount = 0;
    state.routeDistance = 0;
    state.profileTime = 0;
    state.stepCount = 0;
    for (std::size_t k = 0; k + 1 < corners.size(); ++k) {
        gauge.at(static_cast<long long>(k));
        // Each stretch's integration ends within millimetres of its corner. Over the few
        // corners of the first plan that is left as it is; over the hundreds of short
        // stretches the lateral limit check may add, it would add up to metres and move
        // the slow points off the tight spots, so then each stretch runs from where the
        // last one ended to its corner.
        const double from = state.limitCorners > 0 ? state.routeDistance : corners[k].cornerDistance;
        const double length = corners[k + 1].cornerDistance - from;
        state.profile = freshProfile(state);
        calcDistance(state.profile, length, corners[k + 1].cornerSpeed, corners[k].cornerSpeed);
        plotSpeedProfile(state, length, corners[k + 1].cornerSpeed, corners[k].cornerSpeed, callbacks, prompt);
    }
    state.distanceText = "Scenario distance = " + formatPicture(state.routeDistance / 1000, "#####.00") + " km";
    const double total = static_cast<double>(state.sampleCount) / parameters.outputRate + parameters.stationaryStart +
                         parameters.stationaryEnd;
    state.totalTime = total;
    state.timeText = "Total time = " + formatPicture(total, "####.00") + "s";
    if (callbacks.totals) callbacks.totals(state.distanceText, state.timeText);
    if (state.sampleCount < 2)
        throw Error(
            fmt::format("the route gives no moving sample: no stretch of its {} m path is long enough to "
                        "reach speed and stop again within the limits",
                        formatPicture(state.pathDistance[state.pathCount], "0.0")));
}

void calculatePositions(RouteState& state)
{
    const auto count = static_cast<std::size_t>(state.sampleCount);
    state.sampleEast.assign(count, 0.0);
    state.sampleNorth.assign(count, 0.0);
    const bool heights = !state.pathHeight.empty();
    state.sampleHeight.assign(heights ? count : 0, 0.0);
    const auto& distance = state.pathDistance;
    std::size_t m = 0;
    for (std::size_t j = 1; j < count; ++j) {
        const double d = state.sampleDistance[j];
        while (d > distance[m] && m < state.pathCount) ++m;
        // Sample distances start after the first path point, so m is at least 2;
        // guard the first point and coincident points all the same.
        const std::size_t hi = m > 0 ? m : 1;
        const std::size_t lo = hi - 1 > 0 ? hi - 1 : 1;
        const double span = distance[hi] - distance[lo];
        const double f = span != 0 ? (d - distance[lo]) / span : 0.0;
        state.sampleEast[j] = state.pathEast[lo] + f * (state.pathEast[hi] - state.pathEast[lo]);
        state.sampleNorth[j] = state.pathNorth[lo] + f * (state.pathNorth[hi] - state.pathNorth[lo]);
        if (heights) state.sampleHeight[j] = state.pathHeight[lo] + f * (state.pathHeight[hi] - state.pathHeight[lo]);
    }
}

}  // namespace trajix::route
