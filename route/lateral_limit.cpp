// Holding the lateral limit along the whole path. The corner list bounds the speed only
// at the strict local minima of the circle length, so a bend whose radius keeps shrinking
// past its apex, two bends close together, or a bend within ten points of another corner
// can be driven faster than the lateral limit allows. After the corners are made
// feasible, the planned speed is compared with the limit at every path point; the worst
// point of every run of points over the limit becomes a corner of its own, and the plan
// is checked again until no point exceeds the limit.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "common/picture.hpp"
#include "route/progress_steps.hpp"
#include "route/route.hpp"

namespace trajix::route {

namespace {

constexpr double gravity = 9.81;     // m/s^2 per g, as the limits are entered
constexpr double stillSpeed = 0.01;  // m/s: a stretch whose peak is this slow is not driven
// Relative margin on v^2 / r: the integration ends a stretch within a few millimetres of
// the plan, and a corner's own speed meets its limit exactly, so a point counts as over
// the limit only beyond this.
constexpr double lateralTolerance = 0.002;
constexpr int newtonIterations = 40;
constexpr int fitHalvings = 60;
constexpr double stepTime = 0.0001;  // s: the integrator's step

// One phase of a stretch as plotSpeedProfile drives it, in continuous time: constant
// jerk from a start state for a duration. Within a phase the acceleration keeps its
// sign, so the speed is monotone and its highest value is at one end.
struct Phase {
    double s0 = 0, v0 = 0, a0 = 0, jerk = 0, duration = 0;
    double s1 = 0, v1 = 0;

    double distanceAt(double t) const { return s0 + t * (v0 + t * (a0 / 2 + t * jerk / 6)); }
    double speedAt(double t) const { return v0 + t * (a0 + t * jerk / 2); }
    double topSpeed() const { return std::max(v0, v1); }
};

// The planned motion of one stretch: the rise, the cruise and the fall in the order and
// with the ending conditions of the integrator's loops, solved in closed form.
class PlannedStretch {
public:
    PlannedStretch(const SegmentProfile& p, double jerk)
    {
        const double vs = p.startSpeed, ve = p.endSpeed, vp = p.peakSpeed, L = p.segmentLength;
        v_ = vs;
        if (vp <= stillSpeed) return;
        if (vs < vp) {
            const double ah = p.accelHalf;
            if (ah > 0) add(jerk, std::sqrt(2 * ah / jerk));
            if (v_ + ah < vp && a_ > 0) add(0, (vp - ah - v_) / a_);
            if (a_ > 0) add(-jerk, a_ / jerk);
        }
        a_ = 0;
        if (L - p.fallDistance > s_ && v_ > 0) add(0, (L - p.fallDistance - s_) / v_);
        if (vp > ve) {
            const double dh = p.decelHalf;
            if (v_ > vp - dh) add(-jerk, std::sqrt(2 * (v_ - (vp - dh)) / jerk));
            if (v_ > ve + dh && a_ < 0) add(0, (v_ - ve - dh) / -a_);
            if (a_ < 0) add(jerk, -a_ / jerk);
        }
    }

    /// Highest speed of the phase holding distance x (m from the stretch's start); x
    /// must not decrease from one call to the next.
    double topSpeedNear(double x)
    {
        seek(x);
        return current_ < count_ ? phases_[current_].topSpeed() : v_;
    }

    /// The planned speed at distance x (m from the stretch's start); x must not
    /// decrease from one call to the next.
    double speedAt(double x)
    {
        seek(x);
        if (current_ >= count_) return v_;
        const Phase& ph = phases_[current_];
        // s(t) rises monotonically within the phase: Newton's method kept inside a
        // shrinking bracket, started from the straight line between the phase's ends.
        double lo = 0, hi = ph.duration;
        double t = ph.s1 > ph.s0 ? ph.duration * (x - ph.s0) / (ph.s1 - ph.s0) : 0;
        for (int n = 0; n < newtonIterations; ++n) {
            const double error = ph.distanceAt(t) - x;
            if (std::fabs(error) < 1e-9) break;
            if (error > 0)
                hi = t;
            else
                lo = t;
            const double speed = ph.speedAt(t);
            double next = speed > 0 ? t - error / speed : (lo + hi) / 2;
            if (!(next > lo && next < hi)) next = (lo + hi) / 2;
            t = next;
        }
        return std::max(0.0, ph.speedAt(t));
    }

private:
    void add(double jerk, double duration)
    {
        if (!(duration > 0) || count_ == maxPhases) return;
        Phase& ph = phases_[count_++];
        ph.s0 = s_;
        ph.v0 = v_;
        ph.a0 = a_;
        ph.jerk = jerk;
        ph.duration = duration;
        ph.s1 = s_ = ph.distanceAt(duration);
        ph.v1 = v_ = ph.speedAt(duration);
        a_ += jerk * duration;
    }
    void seek(double x)
    {
        while (current_ < count_ && x >= phases_[current_].s1) ++current_;
    }

    static constexpr int maxPhases = 7;
    Phase phases_[maxPhases];
    int count_ = 0;
    int current_ = 0;
    double s_ = 0, v_ = 0, a_ = 0;  // state at the end of the last phase added
};

SegmentProfile plannedProfile(const RouteState& state, const Corner& from, const Corner& to)
{
    SegmentProfile p;
    p.maxJerk = state.maxJerk;
    p.maxLongAcc = state.maxLongAcc;
    p.peakSpeed = state.maxSpeed;
    calcDistance(p, to.cornerDistance - from.cornerDistance, to.cornerSpeed, from.cornerSpeed);
    return p;
}

// The square of the highest speed at which point i may be passed. The corner rule's
// 500 m cap keeps gentle bends in the corner list; it is no radius a vehicle drives, so
// the limit uses the radius without it, and a straight point has none.
double speedLimitSquared(const RouteState& state, std::size_t i)
{
    return pathRadius(state, i) * state.maxLatAcc;
}

// Finds the runs of points of stretch k (from corner k up to, not including, corner
// k+1) where the plan is faster than the limit, and appends the worst point of each
// as a new corner.
void checkStretch(const RouteState& state, std::size_t k, std::vector<Corner>& added)
{
    const Corner& from = state.corners[k];
    const Corner& to = state.corners[k + 1];
    PlannedStretch plan(plannedProfile(state, from, to), state.maxJerk);
    const auto first = static_cast<std::size_t>(std::max<std::int32_t>(from.cornerIndex, 1));
    const auto last = static_cast<std::size_t>(to.cornerIndex);
    double worstRatio = 0;
    std::size_t worst = 0;
    const auto closeRun = [&] {
        if (worst == 0) return;
        const double speed = std::sqrt(speedLimitSquared(state, worst));
        added.push_back({speed, state.pathDistance[worst], static_cast<std::int32_t>(worst)});
        worst = 0;
        worstRatio = 0;
    };
    for (std::size_t i = first; i < last; ++i) {
        const double limit = speedLimitSquared(state, i) * (1 + lateralTolerance);
        const double x = state.pathDistance[i] - from.cornerDistance;
        const double top = plan.topSpeedNear(x);
        bool over = false;
        if (top * top > limit) {
            const double v = plan.speedAt(x);
            if (v * v > limit) {
                over = true;
                const double ratio = limit > 0 ? v * v / limit : HUGE_VAL;
                if (ratio > worstRatio) {
                    worstRatio = ratio;
                    worst = i;
                }
            }
        }
        if (!over) closeRun();
    }
    closeRun();
}

// Lowers corner speeds from stretch `first` on (the stretches before it fit already)
// until every stretch's plan fits within its length less a slack. Unlike the first
// plan's pass, which lets a plan run 0.1 m long and meets a fall too long for its
// stretch by dropping the start to the end speed, both ends are lowered only to the
// fastest speed that fits: the new corners make many short stretches, which would
// otherwise overshoot their corners or lose their speed all the way back along the
// route. The slack takes the integrator's overrun: each of its loops ends on the step
// after its condition, a few steps of at most maxSpeed x 0.0001 s per stretch, which
// the next stretch, starting where this one ended, must have room for.
void fitStretches(RouteState& state, std::size_t first)
{
    auto& corners = state.corners;
    const double slack = 4 * state.maxSpeed * stepTime + 0.001;
    const auto needed = [&](double length, double endSpeed, double startSpeed) {
        SegmentProfile p;
        p.maxJerk = state.maxJerk;
        p.maxLongAcc = state.maxLongAcc;
        p.peakSpeed = state.maxSpeed;
        calcDistance(p, length, endSpeed, startSpeed);
        return p.neededDistance;
    };
    for (std::size_t k = first; k + 1 < corners.size();) {
        const double length = corners[k + 1].cornerDistance - corners[k].cornerDistance - slack;
        double& startSpeed = corners[k].cornerSpeed;
        double& endSpeed = corners[k + 1].cornerSpeed;
        if (needed(length, endSpeed, startSpeed) <= length) {
            ++k;
            continue;
        }
        // Equal speeds always fit, so the slower end bounds the search from below.
        const bool lowerStart = startSpeed > endSpeed;
        double lo = lowerStart ? endSpeed : startSpeed, hi = lowerStart ? startSpeed : endSpeed;
        for (int h = 0; h < fitHalvings; ++h) {
            const double mid = (lo + hi) / 2;
            const double need = lowerStart ? needed(length, endSpeed, mid) : needed(length, mid, startSpeed);
            if (need > length)
                hi = mid;
            else
                lo = mid;
        }
        double& lowered = lowerStart ? startSpeed : endSpeed;
        if (lo == lowered) {  // nothing slower fits better: leave it
            ++k;
            continue;
        }
        lowered = lo;
        k = k > 0 ? k - 1 : 0;
    }
}

}  // namespace

double pathRadius(const RouteState& state, std::size_t i)
{
    const double turn = state.pathTurn[i];
    if (turn == 0) return HUGE_VAL;
    const double radius = 360 / turn * state.pathStep[i] / (2 * std::numbers::pi);
    return radius < 0 ? 0 : radius;
}

std::size_t holdLateralLimit(RouteState& state, ProgressSink& progress)
{
    StepProgress gauge(progress, "Checking lateral acceleration", static_cast<long long>(state.pathCount));
    // checked[k]: stretch k (corner k to corner k+1) was found within the limit with
    // the speeds and indices it has now.
    struct Checked {
        bool ok = false;
        std::int32_t toIndex = 0;
        double fromSpeed = 0, toSpeed = 0;
    };
    std::vector<Checked> checked(state.corners.size());
    std::vector<Corner> added, merged;
    std::size_t total = 0;
    for (;;) {
        added.clear();
        for (std::size_t k = 0; k + 1 < state.corners.size(); ++k) {
            const Corner &from = state.corners[k], &to = state.corners[k + 1];
            const Checked& c = checked[k];
            if (c.ok && c.toIndex == to.cornerIndex && c.fromSpeed == from.cornerSpeed && c.toSpeed == to.cornerSpeed)
                continue;
            gauge.at(from.cornerIndex);
            const std::size_t before = added.size();
            checkStretch(state, k, added);
            checked[k] = {added.size() == before, to.cornerIndex, from.cornerSpeed, to.cornerSpeed};
        }
        if (added.empty()) break;
        total += added.size();
        // Merge the new corners in path order; the check stays with the old corners.
        merged.clear();
        std::vector<Checked> mergedChecks;
        std::size_t firstChanged = state.corners.size();
        std::size_t a = 0;
        for (std::size_t k = 0; k < state.corners.size(); ++k) {
            while (a < added.size() && added[a].cornerIndex < state.corners[k].cornerIndex) {
                firstChanged = std::min(firstChanged, merged.size() > 0 ? merged.size() - 1 : 0);
                merged.push_back(added[a++]);
                mergedChecks.push_back({});
            }
            merged.push_back(state.corners[k]);
            mergedChecks.push_back(checked[k]);
        }
        state.corners.swap(merged);
        checked.swap(mergedChecks);
        fitStretches(state, total == added.size() ? 0 : firstChanged);
    }
    state.limitCorners = total;
    return total;
}

void measureAccelerations(RouteState& state)
{
    const auto count = static_cast<std::size_t>(state.sampleCount);
    double lateral = 0, longitudinal = 0;
    std::size_t m = 1;
    for (std::size_t j = 1; j < count; ++j) {
        const double v0 = state.sampleSpeed[j - 1], v1 = state.sampleSpeed[j];
        longitudinal = std::max(longitudinal, std::fabs(v1 - v0) / state.outputInterval);
        const double d0 = state.sampleDistance[j - 1], d1 = state.sampleDistance[j];
        for (; m < state.pathCount && state.pathDistance[m] <= d1; ++m) {
            if (state.pathDistance[m] <= d0 || state.pathTurn[m] == 0) continue;
            const double v = v0 + (v1 - v0) * (state.pathDistance[m] - d0) / (d1 - d0);
            const double radius = pathRadius(state, m);
            lateral = std::max(lateral, radius > 0 ? v * v / radius : HUGE_VAL);
        }
    }
    state.maxLateralAcc = lateral;
    state.maxLongitudinalAcc = longitudinal;
    state.accelerationText = "Max lateral acceleration = " + formatPicture(lateral / gravity, "0.00") +
                             " g, max longitudinal acceleration = " + formatPicture(longitudinal / gravity, "0.00") +
                             " g";
}

}  // namespace trajix::route
