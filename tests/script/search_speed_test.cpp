// The fast peak-acceleration search against the plain one, grid point by grid point:
// every result must be the same double, the same iteration count and the same failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include <fmt/format.h>

#include "common/error.hpp"
#include "script_fixture.hpp"

namespace trajix::test {
namespace {

struct Change {
    double vStart, vTarget, amount, jerk;
    bool byDistance;
};

std::string describe(const Change& c)
{
    return fmt::format("vStart {:.17g} vTarget {:.17g} amount {:.17g} jerk {:.17g} {}", c.vStart, c.vTarget, c.amount,
                       c.jerk, c.byDistance ? "m" : "s");
}

void expectSameSearch(const Change& c)
{
    NullProgress quiet;
    const PeakSearch fast = findPeakAcceleration(c.vStart, c.vTarget, c.amount, c.byDistance, c.jerk, quiet);
    const PeakSearch plain = findPeakAccelerationStepwise(c.vStart, c.vTarget, c.amount, c.byDistance, c.jerk, quiet);
    ASSERT_EQ(fast.found, plain.found) << describe(c);
    // Bitwise: the writer drives the profile with this very value.
    ASSERT_EQ(std::bit_cast<std::uint64_t>(fast.peak), std::bit_cast<std::uint64_t>(plain.peak)) << describe(c);
    ASSERT_EQ(fast.iterations, plain.iterations) << describe(c);
}

// A peak on the smooth curve T(A) = dv / A + A / J, so that the plain search reaches it
// within a couple of thousand grid points and stays quick.
Change randomChange(std::mt19937_64& random, int kind)
{
    std::uniform_real_distribution<double> unit(0, 1);
    Change c{};
    c.jerk = (0.1 + 9.9 * unit(random)) * 9.81;
    const bool fall = unit(random) < 0.5;
    double dv = 0;
    double peak = 0;
    if (kind == 0) {
        // Ordinary: the peak a little above dv / T.
        c.jerk = (1 + 9 * unit(random)) * 9.81;
        dv = 0.05 + 1.5 * unit(random);
        const double minimumTime = 2 * std::sqrt(dv / c.jerk);
        const double time = minimumTime * (1.1 + 1.5 * unit(random));
        peak = (time * c.jerk - std::sqrt(time * time * c.jerk * c.jerk - 4 * dv * c.jerk)) / 2;
        const double lowest = dv / time;
        if ((peak - lowest) / 0.0001 > 200) peak = lowest + 0.0001 * 200 * unit(random);
    } else {
        // Close to the quickest change possible, where the error curve turns.
        dv = 0.0005 + 0.005 * unit(random);
        c.jerk = (2 + 8 * unit(random)) * 9.81;
        peak = std::sqrt(dv * c.jerk) * (0.9 + 0.2 * unit(random));
    }
    c.vStart = fall ? dv + 20 * unit(random) : 20 * unit(random);
    c.vTarget = fall ? c.vStart - dv : c.vStart + dv;
    if (c.vTarget < 0) c.vTarget = 0;
    dv = std::fabs(c.vTarget - c.vStart);
    const double time = dv / peak + peak / c.jerk;
    c.byDistance = unit(random) < 0.5;
    c.amount = c.byDistance ? time * (c.vStart + c.vTarget) / 2 : time;
    // Nudge the amount off the curve (beyond it near the quickest change, which stays in reach).
    c.amount *= (kind == 0 ? 0.995 : 1.0) + 0.01 * unit(random);
    if (c.byDistance && c.amount <= 0) c.amount = 0.01;
    return c;
}

TEST(FastPeakSearch, MatchesThePlainSearchOnRandomChanges)
{
    std::mt19937_64 random(20261208);
    for (int n = 0; n < 2000; ++n) {
        expectSameSearch(randomChange(random, n % 4 == 3 ? 1 : 0));
        if (HasFatalFailure()) return;
    }
}

TEST(FastPeakSearch, MatchesThePlainSearchOnTinyChangesOutOfReach)
{
    // Profiles of a few steps, so that the plain search's 100000 iterations stay quick.
    for (double dv : {0.0004, 0.001, 0.003}) {
        for (double jerk : {9.81 * 5, 9.81 * 10}) {
            const double quickest = 2 * std::sqrt(dv / jerk);
            for (double share : {0.3, 0.7, 0.95}) {
                expectSameSearch({1, 1 + dv, quickest * share, jerk, false});
                expectSameSearch({1 + dv, 1, quickest * share, jerk, false});
            }
        }
    }
}

TEST(FastPeakSearch, GentleChangesAndDistanceCapsAsThePlainSearch)
{
    // Gentle: the first grid point already overshoots and the peak is bisected.
    expectSameSearch({0, 1, 100, 9.81, false});
    expectSameSearch({5, 4, 300, 9.81, true});
    // Met on the first grid point.
    expectSameSearch({0, 100 / 3.6, 10, 9.81, false});
    // Distance too short for 10 g: the cap ends the search, found or not.
    expectSameSearch({0, 30, 4.5, 50 * 9.81, true});
    expectSameSearch({0, 30, 0.2, 9.81, true});
    expectSameSearch({30, 0, 8, 50 * 9.81, true});
    expectSameSearch({30, 0, 0.5, 9.81, true});
}

TEST(FastPeakSearch, UnachievableChangeRunsTheWholeGridQuicklyAndCanBeCancelled)
{
    // 0 to 100 km/h in 1 s at 0.1 g/s: the plain search takes seconds here.
    RecordingProgress gauge;
    const PeakSearch search = findPeakAcceleration(0, 100 / 3.6, 1, false, 0.1 * 9.81, gauge);
    EXPECT_FALSE(search.found);
    EXPECT_EQ(search.iterations, 100000);
    double peak = 100 / 3.6;
    for (int k = 0; k < 100000; ++k) peak = peak + 0.0001;
    EXPECT_EQ(search.peak, peak);
    ASSERT_FALSE(gauge.innerPercents.empty());
    EXPECT_EQ(gauge.innerPercents.back(), 100);
    EXPECT_TRUE(std::is_sorted(gauge.innerPercents.begin(), gauge.innerPercents.end()));

    RecordingProgress cancelling;
    cancelling.cancelAfter = 0;
    EXPECT_THROW(findPeakAcceleration(0, 100 / 3.6, 1, false, 0.1 * 9.81, cancelling), Error);
}

TEST(FastPeakSearch, EndsAtTheFastestSpeedsAndBeyond)
{
    // Profiles of these peaks would take up to hours of 1 ms passes each; a search that
    // simulated them would not end within the test's time limit.
    const double fastest = scriptMaxSpeed / 3.6;
    const struct {
        Change change;
        bool found;
    } cases[] = {
        {{1.4e6, 30 / 3.6, 100, 9.81, true}, false},  // the fuzzer's change, past the script limit
        {{fastest, 0, 0.001, 9.81, true}, false},
        {{0, fastest, 0.001, 9.81, true}, false},
        {{0, fastest, 0.001, 9.81, false}, false},
        {{fastest, 0, 1, 9.81, false}, false},
        {{0, fastest, 100, 9.81, false}, false},  // the quickest takes 106 s
        {{fastest, 0, 60, 0.001 * 9.81, false}, false},
        {{0, fastest, 110, 9.81, false}, false},  // in reach, but past the grid's 10 m/s^2
        {{0, fastest, 600, 9.81, false}, true},
        {{fastest, fastest - 0.01, 1, 9.81, false}, true},
    };
    for (const auto& c : cases) {
        NullProgress quiet;
        const PeakSearch search = findPeakAcceleration(c.change.vStart, c.change.vTarget, c.change.amount,
                                                       c.change.byDistance, c.change.jerk, quiet);
        EXPECT_EQ(search.found, c.found) << describe(c.change);
        if (!search.found && !c.change.byDistance) {
            // Not found over a time: the whole grid, as the plain search ends it.
            EXPECT_EQ(search.iterations, 100000) << describe(c.change);
            double peak = (c.change.vTarget - c.change.vStart) / c.change.amount;
            const double increment = c.change.vTarget > c.change.vStart ? 0.0001 : -0.0001;
            for (int k = 0; k < 100000; ++k) peak = peak + increment;
            EXPECT_EQ(search.peak, peak) << describe(c.change);
        }
    }
}

TEST(FastPeakSearch, ScriptsWriteTheSameBytesEitherWay)
{
    const std::vector<std::string> scripts = {
        readFileBytes(dataFile("script/drive.txt")),
        readFileBytes(dataFile("script/turns.txt")),
        "vel=0\nvel=10@3s\nvel=3@40m\nvel=3.5@60s\nhdg=90@30m\nvel=0@2s\n.end\n",
        "vel=20\nvel=21@2s\nvel=0@35m\nvel=80@200m\nvel=79@1000m\n.end\n",
    };
    TempDir dir;
    for (std::size_t n = 0; n < scripts.size(); ++n) {
        std::string bytes[2];
        for (int stepwise = 0; stepwise < 2; ++stepwise) {
            ScriptRun r;
            r.options.userMaxJerk = 0.5;
            r.options.stepwiseSearch = stepwise == 1;
            const auto target = dir / fmt::format("out{}_{}.nmea", n, stepwise);
            const auto result = r.run(scripts[n], target.string());
            ASSERT_EQ(result.outcome, ScriptOutcome::Written) << n;
            bytes[stepwise] = readFileBytes(target);
        }
        EXPECT_EQ(bytes[0], bytes[1]) << "script " << n;
    }
}

}  // namespace
}  // namespace trajix::test
