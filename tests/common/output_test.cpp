#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/error.hpp"
#include "common/output.hpp"

using trajix::writeRunOut;

namespace {
std::vector<long double> runOut(long double last, long double interval)
{
    std::vector<long double> times;
    long double clock = last + interval;
    writeRunOut(last, clock, interval, [&](long double t) { times.push_back(t); });
    return times;
}
}  // namespace

TEST(RunOut, EndsOnTheNextWholeSecond)
{
    // Last sample at 100.5 s, 20 Hz: samples up to and including 101.0.
    const auto times = runOut(100.5L, 0.05L);
    ASSERT_EQ(times.size(), 10u);
    EXPECT_NEAR(static_cast<double>(times.back()), 101.0, 1e-9);
}

TEST(RunOut, WritesAtLeastOneSampleWhenTheLastIsWhole)
{
    const auto times = runOut(100.0L, 0.05L);
    ASSERT_EQ(times.size(), 20u);
    EXPECT_NEAR(static_cast<double>(times.back()), 101.0, 1e-9);
}

TEST(RunOut, EndsOffTheIntervalGrid)
{
    // A clock of 100.01 at 20 Hz never lands on a whole second: stop at or past 101.
    const auto times = runOut(100.01L, 0.05L);
    ASSERT_FALSE(times.empty());
    EXPECT_GE(static_cast<double>(times.back()), 101.0);
    EXPECT_LT(static_cast<double>(times.back()), 101.05);
}

TEST(RunOut, EndsWhenTheRateDoesNotDivideASecond)
{
    const auto times = runOut(10.0L, 0.4L);  // 2.5 Hz: 10.4, 10.8, 11.2
    ASSERT_EQ(times.size(), 3u);
    EXPECT_NEAR(static_cast<double>(times.back()), 11.2, 1e-9);
}

TEST(RunOut, AccumulatedClockJustBelowAWholeSecondCountsAsWhole)
{
    long double clock = 0;
    for (int i = 0; i < 19; ++i) clock += 0.05L;  // 0.95 by repeated addition
    const long double last = clock;
    clock += 0.05L;
    std::vector<long double> times;
    writeRunOut(last, clock, 0.05L, [&](long double t) { times.push_back(t); });
    EXPECT_EQ(times.size(), 1u);
}

TEST(RunOut, RefusesANonPositiveInterval)
{
    long double clock = 1;
    EXPECT_THROW(writeRunOut(0, clock, 0, [](long double) {}), trajix::Error);
}
