// The motion primitives of command scripts: each advances the vehicle in 1 ms steps and
// records every step with updatePos.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/picture.hpp"
#include "common/units.hpp"
#include "script/script.hpp"

namespace trajix {

namespace {

constexpr double searchIncrement = 0.0001;  // m/s^2 per search iteration
constexpr double searchTolerance = 0.01;    // s or m
constexpr std::int64_t searchIterations = 100000;
constexpr std::int64_t keepAliveSteps = (1 << 16) - 1;  // a mask: the gauge hears from a run every 65536 steps
constexpr int bisectionHalvings = 60;
constexpr double distanceRiseLimit = 98.1;    // 10 g
constexpr double distanceFallLimit = -49.05;  // 5 g

// Runs the three phases of a jerk-limited speed change. record(speed) is called once
// per loop pass with the speed the step is driven at: phases 1 and 2 record the speed
// before the pass advances; a phase-3 pass records it too, except that the pass whose
// acceleration reaches 0 records exactly vTarget.
template <class Record>
ProfileRun runProfile(double vStart, double vTarget, double peak, double jerk, Record&& record)
{
    const double step = integrationStep;
    ProfileRun run;
    double v = vStart;
    double a = 0;
    auto advance = [&] {
        run.distance = run.distance + v * step + a * step * step / 2;
        v = v + a * step;
        run.duration += step;
        ++run.steps;
    };
    if (vTarget > vStart) {
        while (a < peak) {
            record(v);
            a = a + jerk * step;
            advance();
            if (a > peak) a = peak;
        }
        const double dv = v - vStart;
        run.rampSteps = run.steps;
        a = peak;
        while (vTarget - dv > v) {
            record(v);
            const double before = v;
            advance();
            if (v == before) throw Error(fmt::format("the speed {} m/s is too large to change in 1 ms steps", v));
        }
        run.holdSteps = run.steps - run.rampSteps;
        while (a > 0) {
            const double speed = v;
            a = a - jerk * step;
            advance();
            if (a < 0) a = 0;
            record(a == 0 ? vTarget : speed);
        }
    } else {
        while (a > peak) {
            record(v);
            a = a - jerk * step;
            advance();
            if (a < peak) a = peak;
        }
        const double dv = vStart - v;
        run.rampSteps = run.steps;
        a = peak;
        while (vTarget + dv < v) {
            record(v);
            const double before = v;
            advance();
            if (v == before) throw Error(fmt::format("the speed {} m/s is too large to change in 1 ms steps", v));
        }
        run.holdSteps = run.steps - run.rampSteps;
        while (a < 0) {
            const double speed = v;
            a = a + jerk * step;
            advance();
            if (a > 0) a = 0;
            record(a == 0 ? vTarget : speed);
        }
    }
    return run;
}

void checkStepLimit(const ScriptState& state, const ScriptEnvironment& env)
{
    if (state.sampleCount < state.stepLimit) return;
    throw Error(fmt::format("line {}: the script needs more than {} steps of 1 ms, more memory than the {} GiB allowed",
                            env.line, state.stepLimit, scriptMemoryLimit >> 30));
}

void repeatUpdatePos(ScriptState& state, ScriptEnvironment& env, double count)
{
    for (double k = 0; k < count; ++k) updatePos(state, env);
}

// The speed change both primitives share; amount is seconds or metres.
void changeSpeed(ScriptState& state, ScriptEnvironment& env, double vTarget, double amount, bool byDistance)
{
    state.maxJerk = env.options.userMaxJerk * scriptGravity;
    const double vStart = state.currentSpeed;
    if (vTarget == vStart) {
        if (!byDistance) {
            repeatUpdatePos(state, env, std::trunc(amount / integrationStep) + 1);
        } else if (vStart != 0) {
            repeatUpdatePos(state, env, std::trunc((amount / vStart) / integrationStep) + 1);
        }
        return;
    }
    const PeakSearch search =
        env.options.stepwiseSearch
            ? findPeakAccelerationStepwise(vStart, vTarget, amount, byDistance, state.maxJerk, env.progress)
            : findPeakAcceleration(vStart, vTarget, amount, byDistance, state.maxJerk, env.progress);
    if (!search.found) {
        env.prompt.information(unachievableMessage(state.maxJerk, vStart, vTarget, amount, byDistance));
        state.runOk = false;
        return;
    }
    runProfile(vStart, vTarget, search.peak, state.maxJerk, [&](double speed) {
        state.currentSpeed = speed;
        updatePos(state, env);
    });
    state.currentSpeed = vTarget;
}

// Turns the heading towards target by rate * step per step (rate signed).
void turnTowards(ScriptState& state, ScriptEnvironment& env, double delta, double target, double increment)
{
    auto stepHeading = [&] {
        const double before = state.currentHeading;
        state.currentHeading = state.currentHeading + increment;
        if (state.currentHeading == before)
            throw Error(fmt::format("line {}: the heading {} is too large to turn in 1 ms steps", env.line, before));
    };
    if (delta > 0) {
        while (state.currentHeading < target) {
            stepHeading();
            if (state.currentHeading > target) state.currentHeading = target;
            updatePos(state, env);
        }
    } else {
        while (state.currentHeading > target) {
            stepHeading();
            if (state.currentHeading < target) state.currentHeading = target;
            updatePos(state, env);
        }
    }
}

void climb(ScriptState& state, ScriptEnvironment& env, double hTarget, double rate)
{
    const double step = integrationStep;
    const double jerk = state.maxJerk;
    const double hStart = state.currentHeight;
    double vz = 0;
    double ramp = 0;
    bool rampRecorded = false;
    auto stepHeight = [&] {
        const double before = state.currentHeight;
        state.currentHeight = state.currentHeight + vz * step;
        if (state.currentHeight == before)
            throw Error(fmt::format("line {}: the height {} m is too large to change in 1 ms steps", env.line, before));
    };
    if (hTarget > hStart) {
        while (state.currentHeight < hTarget) {
            if (state.currentHeight <= hTarget - ramp) {
                vz = vz + jerk * step;
                if (vz > rate) {
                    vz = rate;
                    if (!rampRecorded) {
                        ramp = state.currentHeight - hStart;
                        rampRecorded = true;
                    }
                }
            } else {
                vz = vz - jerk * step;
                if (vz < jerk * step) vz = jerk * step;
            }
            stepHeight();
            if (state.currentHeight > hTarget) state.currentHeight = hTarget;
            updatePos(state, env);
        }
    } else {
        while (state.currentHeight > hTarget) {
            if (hTarget + ramp > state.currentHeight) {
                vz = vz + jerk * step;
                if (vz > -jerk * step) vz = -jerk * step;
            } else {
                vz = vz - jerk * step;
                if (vz < rate) {
                    vz = rate;
                    if (!rampRecorded) {
                        ramp = hStart - state.currentHeight;
                        rampRecorded = true;
                    }
                }
            }
            stepHeight();
            if (state.currentHeight < hTarget) state.currentHeight = hTarget;
            updatePos(state, env);
        }
    }
    state.currentHeight = hTarget;
}

}  // namespace

std::string unachievableMessage(double jerk, double vStart, double vTarget, double amount, bool byDistance)
{
    const bool rise = vTarget > vStart;
    return fmt::format("Max jerk rate of {}{}{}kmh to {}kmh in {}{}", formatPicture(jerk / scriptGravity, "##0.0"),
                       rise ? " g/s is not high enough to achieve an acceleration from "
                            : " g/s is not high enough to achieve a deceleration from ",
                       formatPicture(vStart * kmhPerMetrePerSecond, "##0.0"),
                       formatPicture(vTarget * kmhPerMetrePerSecond, "##0.0"), formatPicture(amount, "000.00"),
                       byDistance ? "m" : "s");
}

void resetTrajectory(ScriptState& state, const ScriptOptions& options, std::int64_t expectedSteps,
                     std::int64_t keepStride)
{
    state.runOk = true;
    state.output.outputInterval = integrationStep;
    state.maxJerk = std::max(options.routeJerk * scriptGravity, 0.981);
    state.currentSpeed = 0;
    state.localEastPos = 0;
    state.localNorthPos = 0;
    state.currentHeading = 0;
    state.output.outputClock = nineOClockSeconds;
    state.chartCountdown = 0;
    state.keepStride = std::max<std::int64_t>(keepStride, 1);
    // The arrays hold every keepStride-th step: the limit counts those.
    constexpr std::int64_t keptLimit = scriptMemoryLimit / scriptBytesPerStep;
    state.stepLimit = state.keepStride > std::numeric_limits<std::int64_t>::max() / keptLimit
                          ? std::numeric_limits<std::int64_t>::max()
                          : keptLimit * state.keepStride;
    state.keepPhase = 0;
    state.trigValid = false;
    const std::int64_t expectedKept = expectedSteps / state.keepStride;
    for (auto* samples :
         {&state.sampleSpeed, &state.sampleHeading, &state.sampleHeight, &state.sampleEast, &state.sampleNorth}) {
        samples->clear();
        samples->shrink_to_fit();
        // A little room beyond the estimate, so that a close estimate never doubles the arrays.
        if (expectedKept > 0) samples->reserve(static_cast<std::size_t>(expectedKept + expectedKept / 64 + 16));
    }
    if (state.keepStride == 1) {
        // The seed: index 0 with speed 0 and heading 0; index 1 holds the start point.
        state.sampleSpeed.push_back(0);
        state.sampleHeading.push_back(0);
        state.sampleHeight.push_back(0);
        state.sampleEast.assign(2, 0.0f);
        state.sampleNorth.assign(2, 0.0f);
    } else {
        // Only the start point: the position of step 1.
        state.sampleEast.assign(1, 0.0f);
        state.sampleNorth.assign(1, 0.0f);
    }
    state.sampleCount = 1;
}

namespace {

bool sameBits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

void updatePos(ScriptState& state, ScriptEnvironment& env)
{
    checkStepLimit(state, env);
    const bool keepAll = state.keepStride == 1;
    if (keepAll || state.keepPhase == 0) {
        state.sampleSpeed.push_back(static_cast<float>(state.currentSpeed));
        state.sampleHeading.push_back(static_cast<float>(state.currentHeading));
        state.sampleHeight.push_back(static_cast<float>(state.currentHeight));
    }
    ++state.sampleCount;
    // A long command (a wait of hours) is one line of the script's gauge: the gauge is
    // told again now and then, so the window stays alive and Cancel is heard.
    if ((state.sampleCount & keepAliveSteps) == 0) {
        env.progress.position(env.line - 1);
        throwIfCancelled(env.progress, "the run was cancelled");
    }
    const double interval = static_cast<double>(state.output.outputInterval);
    // Most steps drive on at the heading and speed of the step before: reuse its increment.
    if (!state.trigValid || !sameBits(state.currentHeading, state.trigHeading) ||
        !sameBits(state.currentSpeed, state.trigSpeed) || !sameBits(interval, state.trigInterval)) {
        const double heading = state.currentHeading * std::numbers::pi / 180;
        state.eastStep = std::sin(heading) * state.currentSpeed * interval;
        state.northStep = std::cos(heading) * state.currentSpeed * interval;
        state.trigHeading = state.currentHeading;
        state.trigSpeed = state.currentSpeed;
        state.trigInterval = interval;
        state.trigValid = true;
    }
    state.localEastPos += state.eastStep;
    state.localNorthPos += state.northStep;
    if (state.chartCountdown == 0) {
        ScriptChartPoint point;
        point.east = state.localEastPos;
        point.north = state.localNorthPos;
        point.time = static_cast<double>(state.sampleCount) * interval;
        point.height = state.currentHeight;
        point.speedKmh = state.currentSpeed * kmhPerMetrePerSecond;
        env.charts.addPoint(point);
        state.chartCountdown = 25;
    }
    --state.chartCountdown;
    if (keepAll || state.keepPhase == state.keepStride - 1) {
        state.sampleEast.push_back(static_cast<float>(state.localEastPos));
        state.sampleNorth.push_back(static_cast<float>(state.localNorthPos));
    }
    if (!keepAll && ++state.keepPhase == state.keepStride) state.keepPhase = 0;
}

ProfileRun simulateProfile(double vStart, double vTarget, double peak, double jerk)
{
    return runProfile(vStart, vTarget, peak, jerk, [](double) {});
}

namespace {

// One speed change as both searches see it: its grid, its error and its caps.
struct SearchCase {
    SearchCase(double vStart, double vTarget, double amount, bool byDistance, double jerk)
        : vStart(vStart),
          vTarget(vTarget),
          amount(amount),
          byDistance(byDistance),
          jerk(jerk),
          rise(vTarget > vStart),
          increment(rise ? searchIncrement : -searchIncrement),
          start(byDistance ? (vTarget * vTarget - vStart * vStart) / (2 * amount) : (vTarget - vStart) / amount)
    {
    }
    // Signed error of a peak: simulated time or distance less the one asked for.
    double errorOf(double peak) const { return errorOf(simulateProfile(vStart, vTarget, peak, jerk)); }
    double errorOf(const ProfileRun& run) const { return byDistance ? run.distance - amount : run.duration - amount; }
    // Past the 10 g rise or 5 g fall cap of changes over a distance.
    bool beyondLimit(double peak) const
    {
        return byDistance && (rise ? peak > distanceRiseLimit : peak < distanceFallLimit);
    }
    // Whether the two ramps of a change over a time with this peak already outlast the
    // time by more than the tolerance: then this peak misses, and so does every larger
    // one, since the ramps' passes only grow with the peak. Each ramp takes at least
    // |peak| / (jerk * step) passes; the factor covers what rounding can take off the
    // repeated additions, for counts up to 2^40 (a longer ramp is counted as 2^40).
    bool rampsOutlast(double peak) const
    {
        if (byDistance) return false;
        constexpr double rounding = 1 - 0x1p-10;
        const double passes = std::min(std::fabs(peak) / (jerk * integrationStep), 0x1p40);
        const double fewest = 2 * std::floor(passes * rounding);
        return fewest * integrationStep * rounding - amount > searchTolerance;
    }
    // A gentle change overshoots at the first grid step: bisect that step instead.
    PeakSearch refineFirstStep(double firstPeak) const
    {
        double slow = start;
        double fast = firstPeak;
        double peak = firstPeak;
        for (int k = 0; k < bisectionHalvings; ++k) {
            const double mid = (slow + fast) / 2;
            peak = mid;
            const double error = errorOf(mid);
            if (std::fabs(error) <= searchTolerance) break;
            if (error > 0)
                slow = mid;
            else
                fast = mid;
        }
        PeakSearch search;
        search.iterations = 1;
        search.found = true;
        search.peak = peak;
        return search;
    }

    double vStart, vTarget, amount;
    bool byDistance;
    double jerk;
    bool rise;
    double increment;
    double start;
};

}  // namespace

PeakSearch findPeakAccelerationStepwise(double vStart, double vTarget, double amount, bool byDistance, double jerk,
                                        ProgressSink& gauge)
{
    const SearchCase change(vStart, vTarget, amount, byDistance, jerk);
    const double increment = change.increment;
    const double start = change.start;
    auto errorOf = [&change](double peak) { return change.errorOf(peak); };
    auto beyondLimit = [&change](double peak) { return change.beyondLimit(peak); };

    PeakSearch search;
    double peak = start;
    double error = 0;
    int shown = -1;
    do {
        const int gaugeValue = static_cast<int>((search.iterations + 1) / 1000);
        if (gaugeValue != shown) {
            gauge.inner(gaugeValue);
            shown = gaugeValue;
            throwIfCancelled(gauge, "the run was cancelled");
        }
        peak = peak + increment;
        error = errorOf(peak);
        ++search.iterations;
        if (beyondLimit(peak)) return search;
        // The grid is too coarse for a gentle change: bisect the first grid step.
        if (search.iterations == 1 && error < -searchTolerance) return change.refineFirstStep(peak);
    } while (error > searchTolerance && search.iterations < searchIterations);
    search.found = !(error > searchTolerance);
    search.peak = peak;
    return search;
}

PeakSearch findPeakAcceleration(double vStart, double vTarget, double amount, bool byDistance, double jerk,
                                ProgressSink& gauge)
{
    // The same answer as the step-by-step search without simulating every grid point.
    // The error falls with the peak, then rises again past the quickest possible change,
    // with a jitter of a few 1 ms steps. A stretch of the grid whose lower bound on the
    // error (worked out from the profiles at its two ends, see mayHit) stays above the
    // tolerance holds no hit and is skipped; the rest is split until short stretches are
    // simulated point by point, so the first hit found is the first on the grid.
    const SearchCase change(vStart, vTarget, amount, byDistance, jerk);
    const bool rise = change.rise;
    const double increment = change.increment;
    const double start = change.start;
    auto beyondLimit = [&change](double peak) { return change.beyondLimit(peak); };

    PeakSearch search;

    // The grid, built by the same repeated additions as the step-by-step search.
    std::vector<double> grid{start};
    auto gridAt = [&](std::int64_t k) {
        while (static_cast<std::int64_t>(grid.size()) <= k) grid.push_back(grid.back() + increment);
        return grid[static_cast<std::size_t>(k)];
    };
    int shown = -1;
    auto showGauge = [&](std::int64_t iterations) {
        const int gaugeValue = static_cast<int>(iterations / 1000);
        if (gaugeValue <= shown) return;
        gauge.inner(gaugeValue);
        shown = gaugeValue;
        throwIfCancelled(gauge, "the run was cancelled");
    };

    // Point k of the grid without keeping the points up to it (the last, 100000 additions away).
    auto gridPoint = [&](std::int64_t k) {
        double value = grid.back();
        for (auto n = static_cast<std::int64_t>(grid.size()) - 1; n < k; ++n) value = value + increment;
        return k < static_cast<std::int64_t>(grid.size()) ? grid[static_cast<std::size_t>(k)] : value;
    };
    // Over a time, the grid points whose ramps alone outlast it hold no hit: the search
    // ends at the first of them (end), and a change none can meet costs no simulation
    // of a needlessly long profile. (Checked beyond the grid's last point first, by a
    // point's width, so that most changes walk no grid here.)
    std::int64_t end = searchIterations + 1;
    if (change.rampsOutlast(start + increment * static_cast<double>(searchIterations + 1))) {
        double value = start;
        for (std::int64_t k = 1; k <= searchIterations && end > searchIterations; ++k) {
            value = value + increment;
            if (change.rampsOutlast(value)) end = k;
        }
    }
    auto notFound = [&] {
        showGauge(searchIterations);
        search.iterations = searchIterations;
        search.found = false;
        search.peak = gridPoint(searchIterations);
        return search;
    };

    // The first iteration, and the refinement of gentle changes, exactly as stepwise.
    showGauge(1);
    double peak = gridAt(1);
    search.iterations = 1;
    // Past the caps the search fails whatever the error; such a peak may take ages to simulate.
    if (beyondLimit(peak)) return search;
    if (end == 1) return notFound();
    const ProfileRun firstRun = simulateProfile(vStart, vTarget, peak, jerk);
    const double firstError = change.errorOf(firstRun);
    if (firstError < -searchTolerance) return change.refineFirstStep(peak);
    if (!(firstError > searchTolerance)) {
        search.found = true;
        search.peak = peak;
        return search;
    }

    // The last iteration: the iteration limit, or the first peak beyond the 10 g / 5 g caps.
    std::int64_t last = searchIterations;
    bool capped = false;
    if (byDistance) {
        const double cap = rise ? distanceRiseLimit : distanceFallLimit;
        // Close to the exact quotient, then checked point by point on the grid itself.
        const double estimate = std::floor((cap - start) / increment);
        // (The grid drifts from the quotient by far less than a point over 100000 additions.)
        std::int64_t k = searchIterations + 1;
        if (estimate <= static_cast<double>(searchIterations) + 2) {
            k = estimate < 2 ? 2 : static_cast<std::int64_t>(estimate);
            while (k > 2 && beyondLimit(gridAt(k - 1))) --k;
            while (k <= searchIterations && !beyondLimit(gridAt(k))) ++k;
        }
        if (k <= searchIterations) {
            last = k;
            capped = true;
        }
    }
    // Hits are looked for up to last, or before it when the cap ends the search there,
    // and never from where the ramps outlast the time.
    const std::int64_t lastCandidate = std::min(capped ? last - 1 : last, end - 1);

    // The simulated profiles, kept by grid index: a few hundred of the grid's points at
    // most, so kept in a map rather than an array as long as the grid.
    std::unordered_map<std::int64_t, ProfileRun> runs{{1, firstRun}};
    auto runAt = [&](std::int64_t k) -> const ProfileRun& {
        auto found = runs.find(k);
        if (found == runs.end()) found = runs.emplace(k, simulateProfile(vStart, vTarget, gridAt(k), jerk)).first;
        return found->second;
    };
    auto errorAt = [&](std::int64_t k) { return change.errorOf(runAt(k)); };
    // The duration of n passes: 0.001 added n times, as the simulation counts it.
    std::vector<double> durations{0.0};
    auto durationOf = [&](std::int64_t n) {
        while (static_cast<std::int64_t>(durations.size()) <= n)
            durations.push_back(durations.back() + integrationStep);
        return durations[static_cast<std::size_t>(n)];
    };
    // Whether a grid point in [lo, hi] may meet the tolerance. A larger peak never
    // shortens the first phase nor the last (their passes only grow with it) and never
    // lengthens the second (it starts faster, nearer the target, and gains more per pass),
    // so no point of the stretch has fewer passes than the first's first and last phases
    // with the last point's second phase: an exact bound on the duration. The distance
    // is bounded by the smaller end's, less the passes the phase boundaries can move at
    // the top speed, less what the bend of the curve can hide.
    const double deltaV = std::fabs(vTarget - vStart);
    auto mayHit = [&](std::int64_t lo, std::int64_t hi) {
        const ProfileRun low = runAt(lo);
        const ProfileRun high = runAt(hi);
        const std::int64_t lastLow = low.steps - low.rampSteps - low.holdSteps;
        const std::int64_t lastHigh = high.steps - high.rampSteps - high.holdSteps;
        if (!byDistance) {
            const std::int64_t fewest = low.rampSteps + lastLow + high.holdSteps;
            return !(durationOf(fewest) - amount > searchTolerance);
        }
        const double aLow = std::fabs(grid[static_cast<std::size_t>(lo)]);
        const double aHigh = std::fabs(grid[static_cast<std::size_t>(hi)]);
        const double width = aHigh - aLow;
        const double vMax = std::max(std::fabs(vStart), std::fabs(vTarget)) + aHigh * aHigh / jerk;
        const double bend = std::max(vMax * 2 * deltaV / (aLow * aLow * aLow), 6 * aHigh / (jerk * jerk));
        const auto moved = static_cast<double>((high.rampSteps - low.rampSteps) + (lastHigh - lastLow) + 4);
        const double allowance =
            moved * integrationStep * vMax + 2 * bend * width * width / 8 + 1e-9 * std::fabs(amount);
        const double lower = std::min(errorAt(lo), errorAt(hi));
        return lower - allowance <= searchTolerance;
    };
    // The first grid point in (lo, hi] whose error is within the tolerance, or 0.
    auto firstHit = [&](auto&& self, std::int64_t lo, std::int64_t hi) -> std::int64_t {
        if (hi - lo <= 4) {
            for (std::int64_t k = lo + 1; k <= hi; ++k) {
                showGauge(k);
                if (!(errorAt(k) > searchTolerance)) return k;
            }
            return 0;
        }
        if (!mayHit(lo, hi)) return 0;
        const std::int64_t mid = lo + (hi - lo) / 2;
        if (const std::int64_t k = self(self, lo, mid)) return k;
        return self(self, mid, hi);
    };

    std::int64_t lo = 1;
    std::int64_t stride = 64;
    // A first stretch up to just short of where the smooth curve T = dv / A + A / J meets
    // the time (the smaller root): only a guess, the bound still decides what is skipped.
    std::int64_t firstStride = stride;
    if (!byDistance) {
        const double disc = amount * amount * jerk * jerk - 4 * deltaV * jerk;
        if (disc >= 0) {
            const double guess = ((amount * jerk - std::sqrt(disc)) / 2 - std::fabs(start)) / searchIncrement;
            if (guess > 48 && guess < static_cast<double>(searchIterations)) {
                firstStride = static_cast<std::int64_t>(guess * 0.95) - 16;
                stride = 16;
            }
        }
    }
    while (lo < lastCandidate) {
        const std::int64_t hi = std::min(lo + (lo == 1 ? firstStride : stride), lastCandidate);
        showGauge(lo);
        if (mayHit(lo, hi)) {
            if (const std::int64_t k = firstHit(firstHit, lo, hi)) {
                search.iterations = k;
                search.found = true;
                search.peak = grid[static_cast<std::size_t>(k)];
                return search;
            }
            stride = 64;
        } else {
            stride = std::min<std::int64_t>(stride * 2, 8192);
        }
        lo = hi;
    }
    if (!capped) return notFound();
    showGauge(last);
    search.iterations = last;
    return search;
}

void acceltime(ScriptState& state, ScriptEnvironment& env, double vTarget, double time)
{
    changeSpeed(state, env, vTarget, time, false);
}

void accelDist(ScriptState& state, ScriptEnvironment& env, double vTarget, double distance)
{
    changeSpeed(state, env, vTarget, distance, true);
}

void turnRadius(ScriptState& state, ScriptEnvironment& env, double delta, double radius)
{
    if (state.currentSpeed == 0) return;
    const double rate = state.currentSpeed * 360 / (2 * std::numbers::pi * radius);
    const double target = state.currentHeading + delta;
    turnTowards(state, env, delta, target, delta > 0 ? rate * integrationStep : -(rate * integrationStep));
}

void turnTime(ScriptState& state, ScriptEnvironment& env, double delta, double time)
{
    const double rate = delta / time;
    const double target = state.currentHeading + delta;
    turnTowards(state, env, delta, target, rate * integrationStep);
}

void climbTime(ScriptState& state, ScriptEnvironment& env, double hTarget, double time)
{
    climb(state, env, hTarget, (hTarget - state.currentHeight) / time);
}

void climbDist(ScriptState& state, ScriptEnvironment& env, double hTarget, double distance)
{
    // Standing still the climb would never end; such scripts are refused before they run.
    if (!(state.currentSpeed > 0))
        throw Error(fmt::format("line {}: a height change over a distance needs a speed above 0", env.line));
    climb(state, env, hTarget, state.currentSpeed * (hTarget - state.currentHeight) / distance);
}

void wait(ScriptState& state, ScriptEnvironment& env, double time)
{
    // The run goes on at the speed it has: the message says where and what happens.
    if (state.currentSpeed > 0)
        env.prompt.information(
            fmt::format("{} (line {}): the speed is held through the wait", waitInMotionMessage, env.line));
    repeatUpdatePos(state, env, std::trunc(time / integrationStep));
}

}  // namespace trajix
