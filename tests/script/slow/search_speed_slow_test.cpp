// The fast peak-acceleration search against the plain one on changes whose plain search
// takes long: longer profiles, and changes just out of reach that run the whole grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include "../script_fixture.hpp"

namespace trajix::test {
namespace {

void expectSameSearch(double vStart, double vTarget, double amount, double jerk, bool byDistance)
{
    NullProgress quiet;
    const PeakSearch fast = findPeakAcceleration(vStart, vTarget, amount, byDistance, jerk, quiet);
    const PeakSearch plain = findPeakAccelerationStepwise(vStart, vTarget, amount, byDistance, jerk, quiet);
    const auto where = ::testing::Message() << std::hexfloat << vStart << " " << vTarget << " " << amount << " " << jerk
                                            << " " << byDistance;
    ASSERT_EQ(fast.found, plain.found) << where;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(fast.peak), std::bit_cast<std::uint64_t>(plain.peak)) << where;
    ASSERT_EQ(fast.iterations, plain.iterations) << where;
}

TEST(FastPeakSearchSlow, ChangesAroundTheQuickestPossible)
{
    // Amounts from below to just above the quickest change: the hit, if any, lies
    // where the error curve turns, the hardest place to skip stretches safely.
    std::mt19937_64 random(8122026);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int n = 0; n < 40; ++n) {
        const double jerk = (1 + 9 * unit(random)) * 9.81;
        const double dv = 0.01 + 0.2 * unit(random);
        const double vStart = 10 * unit(random);
        const bool fall = n % 2 == 1 && vStart > dv;
        const double vTarget = fall ? vStart - dv : vStart + dv;
        const double quickest = 2 * std::sqrt(dv / jerk);
        const double time = quickest * (0.8 + 0.25 * unit(random));
        const bool byDistance = n % 4 >= 2;
        expectSameSearch(vStart, vTarget, byDistance ? time * (vStart + vTarget) / 2 : time, jerk, byDistance);
        if (HasFatalFailure()) return;
    }
}

TEST(FastPeakSearchSlow, FastChangesOverDistances)
{
    // High speeds: a pass moves the distance most, so phase boundaries jitter it most.
    std::mt19937_64 random(1208);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int n = 0; n < 150; ++n) {
        const double jerk = (0.5 + 9.5 * unit(random)) * 9.81;
        const double dv = 0.5 + 8 * unit(random);
        const double vStart = 20 + 40 * unit(random);
        const bool fall = n % 2 == 1;
        const double vTarget = fall ? vStart - dv : vStart + dv;
        const double quickest = 2 * std::sqrt(dv / jerk);
        const double lowest = dv / (quickest * 1.5);
        // A peak a few hundred grid points above the first, on the smooth curve.
        const double peak = std::min(lowest + 0.0001 * 1000 * unit(random), std::sqrt(dv * jerk));
        const double time = dv / peak + peak / jerk;
        expectSameSearch(vStart, vTarget, time * (vStart + vTarget) / 2 * (0.998 + 0.004 * unit(random)), jerk, true);
        if (HasFatalFailure()) return;
    }
}

TEST(FastPeakSearchSlow, LongChangesAsThePlainSearch)
{
    expectSameSearch(0, 100 / 3.6, 12, 0.5 * 9.81, false);
    expectSameSearch(100 / 3.6, 10 / 3.6, 150, 0.3 * 9.81, true);
    expectSameSearch(0, 100 / 3.6, 1, 0.1 * 9.81, false);
    expectSameSearch(20, 0, 10, 0.2 * 9.81, true);
}

}  // namespace
}  // namespace trajix::test
