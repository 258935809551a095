#include <atomic>

#include <gtest/gtest.h>

#include "replay/timer.hpp"
#include "replay_fixtures.hpp"

namespace trajix::test {
namespace {

using namespace std::chrono_literals;

// Time stands still until the test moves it; the timer's thread polls it.
class FakeClock final : public TimerClock {
public:
    time_point now() override { return time_point(std::chrono::nanoseconds(nanos.load())); }
    void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, time_point) override
    {
        condition.wait_for(lock, 200us);
    }
    void set(std::chrono::nanoseconds t) { nanos = t.count(); }
    std::atomic<long long> nanos{1'000'000'000};
};

struct TimerRig {
    FakeClock clock;
    QueueDispatcher dispatcher;
    HighPrecisionTimer timer{dispatcher, &clock};
    std::vector<TimerTick> ticks;
    TimerRig()
    {
        timer.setHandler([this](const TimerTick& tick) { ticks.push_back(tick); });
    }
    // Runs posted ticks until none comes for a while.
    void pump()
    {
        while (dispatcher.runOne(30ms)) {
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

    // A new period on a running timer starts the count again from now.
    rig.ticks.clear();
    rig.timer.enable();
    rig.clock.set(3s);
    rig.timer.setPeriod(0.1);
    rig.clock.set(3s + 250ms);
    rig.pump();
    rig.timer.disable();
    ASSERT_FALSE(rig.ticks.empty());
    EXPECT_EQ(rig.since(rig.ticks.back(), 3s), 200ms);
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
