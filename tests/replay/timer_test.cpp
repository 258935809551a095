#include <atomic>

#include <gtest/gtest.h>

#include "replay/timer.hpp"
#include "replay_fixtures.hpp"

namespace trajix::test {
namespace {

using namespace std::chrono_literals;

struct TimerRig {
    FakeClock clock;
    QueueDispatcher dispatcher;
    HighPrecisionTimer timer{dispatcher, &clock};
    std::vector<TimerTick> ticks;
    TimerRig()
    {
        timer.setHandler([this](const TimerTick& tick) { ticks.push_back(tick); });
    }
    // Runs posted ticks until none comes for a while (long enough for the timer's
    // thread to be scheduled on a loaded machine).
    void pump()
    {
        while (dispatcher.runOne(150ms)) {
        }
    }
    std::chrono::nanoseconds since(const TimerTick& tick, std::chrono::nanoseconds start) const
    {
        return tick.due.time_since_epoch() - start;
    }
};

TEST(HighPrecisionTimer, TicksFallDueAtWholeMultiplesOfThePeriod)
{
    TimerRig rig;
    rig.timer.setPeriod(0.005);
    const auto start = 1s;
    rig.timer.enable();
    rig.clock.set(start + 4999us);
    rig.pump();
    EXPECT_TRUE(rig.ticks.empty());
    rig.clock.set(start + 17ms);
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(rig.ticks[n - 1].number, n);
        EXPECT_EQ(rig.since(rig.ticks[n - 1], start), n * 5ms);
    }
}

TEST(HighPrecisionTimer, LateTicksCatchUpWithoutShiftingLaterOnes)
{
    TimerRig rig;
    rig.timer.setPeriod(0.05);
    const auto start = 1s;
    rig.timer.enable();
    // The owner is busy for 1.02 s: the overdue ticks come one after the other...
    rig.clock.set(start + 1020ms);
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 20u);
    EXPECT_GE(rig.ticks.back().fired - rig.ticks.back().due, 20ms);
    // ...and the next is still due at 21 periods, not a period after the late one.
    rig.clock.set(start + 1049ms);
    rig.pump();
    EXPECT_EQ(rig.ticks.size(), 20u);
    rig.clock.set(start + 1050ms);
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 21u);
    EXPECT_EQ(rig.since(rig.ticks.back(), start), 1050ms);
}

TEST(HighPrecisionTimer, DeadlinesDoNotAccumulateRounding)
{
    TimerRig rig;
    // A third of a second is no whole number of nanoseconds; adding a rounded period
    // tick after tick would be 1 us off after 3000 ticks.
    rig.timer.setPeriod(1.0 / 3.0);
    const auto start = 1s;
    rig.timer.enable();
    rig.clock.set(start + 1000s);
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 3000u);
    EXPECT_EQ(rig.since(rig.ticks.back(), start), 1000s);
    EXPECT_EQ(rig.since(rig.ticks[0], start), 333'333'333ns);
    for (std::size_t i = 1; i < rig.ticks.size(); ++i) ASSERT_EQ(rig.ticks[i].number, rig.ticks[i - 1].number + 1);
}

TEST(HighPrecisionTimer, DisableDropsATickAlreadyPosted)
{
    TimerRig rig;
    rig.timer.setPeriod(0.01);
    rig.timer.enable();
    rig.clock.set(1s + 15ms);
    // Wait until the tick is posted, then disable before the owner runs it.
    for (int i = 0; i < 1000 && rig.dispatcher.waiting() == 0; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(rig.dispatcher.waiting(), 1u);
    rig.timer.disable();
    rig.pump();
    EXPECT_TRUE(rig.ticks.empty());
    EXPECT_FALSE(rig.timer.enabled());

    // Enabling again counts from the new start.
    rig.clock.set(2s);
    rig.timer.enable();
    rig.clock.set(2s + 10ms);
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 1u);
    EXPECT_EQ(rig.ticks[0].number, 1);
    EXPECT_EQ(rig.since(rig.ticks[0], 2s), 10ms);
}

TEST(HighPrecisionTimer, PeriodRules)
{
    TimerRig rig;
    rig.timer.setPeriod(0.05);
    rig.timer.setPeriod(0.0);
    rig.timer.setPeriod(-1.0);
    rig.timer.setPeriod(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(rig.timer.period(), 0.05);

    // A handler may disable the timer from inside a tick; no tick follows.
    rig.timer.setHandler([&rig](const TimerTick& tick) {
        rig.ticks.push_back(tick);
        if (tick.number == 2) rig.timer.disable();
    });
    rig.timer.enable();
    rig.clock.set(1s + 500ms);
    rig.pump();
    EXPECT_EQ(rig.ticks.size(), 2u);

    // A new period on a running timer keeps the share of the period that has passed:
    // 0.4 of 0.5 s passed, so the next tick is 0.6 of 0.1 s away, with no gap or jump.
    rig.ticks.clear();
    rig.timer.setHandler([&rig](const TimerTick& tick) { rig.ticks.push_back(tick); });
    rig.timer.setPeriod(0.5);
    rig.clock.set(3s);
    rig.timer.enable();
    rig.clock.set(3s + 550ms);
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 1u);
    rig.clock.set(3s + 700ms);
    rig.timer.setPeriod(0.1);
    rig.clock.set(3s + 759ms);
    rig.pump();
    EXPECT_EQ(rig.ticks.size(), 1u);
    rig.clock.set(3s + 860ms);
    rig.pump();
    rig.timer.disable();
    ASSERT_EQ(rig.ticks.size(), 3u);
    EXPECT_EQ(rig.since(rig.ticks[1], 3s), 760ms);
    EXPECT_EQ(rig.since(rig.ticks[2], 3s), 860ms);
}

TEST(HighPrecisionTimer, ScheduleAndRateChangesHoldThePlaybackReached)
{
    TimerRig rig;
    // Ticks at 0, 1, 1.5 and 11.5 s of playback (a gap), played at 2x.
    const std::vector<double> due{0.0, 1.0, 1.5, 11.5};
    rig.timer.setSchedule([due](long long n) { return n <= 4 ? due[static_cast<std::size_t>(n - 1)] : 1e6; });
    rig.timer.setRate(2.0);
    rig.timer.setRate(0.0);
    rig.timer.setRate(std::numeric_limits<double>::infinity());
    rig.timer.enable();
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 1u);  // due at once
    rig.clock.set(1s + 750ms);
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 3u);
    EXPECT_EQ(rig.since(rig.ticks[1], 1s), 500ms);
    EXPECT_EQ(rig.since(rig.ticks[2], 1s), 750ms);
    // At 2 s real (2 s of playback) the speed drops to 0.5x: the last tick, 9.5 s of
    // playback away, comes 19 s later, not counted again from the start.
    rig.clock.set(2s);
    rig.timer.setRate(0.5);
    rig.clock.set(20s + 999ms);
    rig.pump();
    EXPECT_EQ(rig.ticks.size(), 3u);
    rig.clock.set(21s);
    rig.pump();
    ASSERT_EQ(rig.ticks.size(), 4u);
    EXPECT_EQ(rig.since(rig.ticks[3], 1s), 20s);
    EXPECT_EQ(rig.ticks[3].number, 4);
}

TEST(HighPrecisionTimer, TickPostedBeforeDestructionDoesNothing)
{
    QueueDispatcher dispatcher;
    FakeClock clock;
    int delivered = 0;
    {
        HighPrecisionTimer timer(dispatcher, &clock);
        timer.setHandler([&delivered](const TimerTick&) { ++delivered; });
        timer.setPeriod(0.001);
        timer.enable();
        clock.set(2s);
        for (int i = 0; i < 1000 && dispatcher.waiting() == 0; ++i) std::this_thread::sleep_for(1ms);
        ASSERT_EQ(dispatcher.waiting(), 1u);
    }
    EXPECT_TRUE(dispatcher.runOne(10ms));
    EXPECT_EQ(delivered, 0);
}

}  // namespace
}  // namespace trajix::test
