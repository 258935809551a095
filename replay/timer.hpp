#pragma once
// The replay's pacing: a periodic timer whose own thread measures time on a
// monotonic clock and sleeps to absolute deadlines. Tick n is due n periods after
// the timer was enabled (or at the times of a schedule, on a playback clock that may
// run faster or slower than real time), so a late tick does not shift the ones after it. Ticks are
// handed to the owner's thread through a TickDispatcher and delivered there one at
// a time and in order; a tick that was overdue is delivered at once, so after a
// stall the ticks catch up and none is lost.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace trajix {

/// Asks the system to wake the calling thread on time and run it promptly when it
/// wakes (no timer slack, a short time slice), as far as the system allows; the timer's
/// own thread does so, and so may the thread a replay writes from.
void preferPromptWakeups();

/// A periodic timer as the replay engine drives it.
class PeriodicTimer {
public:
    virtual ~PeriodicTimer() = default;
    /// Period in seconds; a value not greater than 0 (or not finite) is ignored.
    virtual void setPeriod(double seconds) = 0;
    /// Ticks at given times instead of every period: tick n (1, 2, ...) falls due when
    /// dueSeconds(n) seconds of playback have passed since enable() or this call. The
    /// times must not decrease; the function is called on the timer's own thread. An
    /// empty function goes back to the period.
    virtual void setSchedule(std::function<double(long long)> dueSeconds) = 0;
    /// Seconds of playback per real second for the schedule (the speed); a value not
    /// greater than 0 (or not finite) is ignored. A new rate on a running timer holds
    /// the playback reached so far, so ticks keep their order and none jumps.
    virtual void setRate(double rate) = 0;
    virtual void enable() = 0;
    virtual void disable() = 0;
    virtual bool enabled() const = 0;
};

/// Runs tasks on the owner's thread: the GUI posts them to its event loop, a test or
/// a command-line loop queues them and runs them itself.
class TickDispatcher {
public:
    virtual ~TickDispatcher() = default;
    /// Called from the timer's thread; task must run later on the owner's thread.
    virtual void post(std::function<void()> task) = 0;
};

/// The monotonic clock of the timer's thread, replaceable in tests.
class TimerClock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~TimerClock() = default;
    virtual time_point now() = 0;
    /// Blocks on condition (with lock held) until deadline or a notification; may
    /// return early, the caller checks again.
    virtual void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                           time_point deadline) = 0;
};

/// steady_clock and real sleeping.
class SteadyTimerClock final : public TimerClock {
public:
    time_point now() override { return std::chrono::steady_clock::now(); }
    void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, time_point deadline) override
    {
        condition.wait_until(lock, deadline);
    }
};

/// One delivered tick.
struct TimerTick {
    long long number = 0;          ///< 1 for the first tick after enable()
    TimerClock::time_point due;    ///< enable time + number x period
    TimerClock::time_point fired;  ///< when the timer's thread handed it over
    /// The number of the last tick fallen due when this one reached the owner (at least
    /// number): an owner that fell behind sees how far the clock has gone meanwhile.
    long long lastDue = 0;
};

class HighPrecisionTimer final : public PeriodicTimer {
public:
    using TickHandler = std::function<void(const TimerTick&)>;

    /// dispatcher and clock must outlive the timer (the default clock is steady_clock).
    explicit HighPrecisionTimer(TickDispatcher& dispatcher, TimerClock* clock = nullptr);
    ~HighPrecisionTimer() override;
    HighPrecisionTimer(const HighPrecisionTimer&) = delete;
    HighPrecisionTimer& operator=(const HighPrecisionTimer&) = delete;

    /// The handler runs on the owner's thread for every tick.
    void setHandler(TickHandler handler);

    /// A new period on an enabled timer keeps the share of the current period that has
    /// passed: the next tick comes that share of the new period early.
    void setPeriod(double seconds) override;
    double period() const;
    void setSchedule(std::function<double(long long)> dueSeconds) override;
    void setRate(double rate) override;
    void enable() override;
    void disable() override;
    bool enabled() const override;

private:
    struct Shared;
    void run();
    void deliver(unsigned long long generation, const TimerTick& tick);

    TickDispatcher& dispatcher_;
    SteadyTimerClock steadyClock_;
    TimerClock& clock_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace trajix
