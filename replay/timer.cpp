#include "replay/timer.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace trajix {

void preferPromptWakeups()
{
#ifdef __linux__
    // The system may let a sleeper's wake-up slip by its timer slack, 50 us by default,
    // to group wake-ups; a replay's deadlines are exact, so it asks for none.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // A short time slice (the fair scheduler takes a normal thread's runtime as the slice
    // it asks for, from Linux 6.12; older systems refuse and nothing changes): a thread
    // that wakes for a moment's work then runs before others finish their longer slices.
    struct {
        std::uint32_t size, policy;
        std::uint64_t flags;
        std::int32_t nice;
        std::uint32_t priority;
        std::uint64_t runtime, deadline, period;
    } attributes{};
    attributes.size = sizeof attributes;
    attributes.policy = 0;  // SCHED_OTHER
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, 0);
    attributes.nice = errno == 0 ? nice : 0;
    attributes.runtime = 100000;  // ns
    ::syscall(SYS_sched_setattr, 0, &attributes, 0);
#endif
}

// Everything the timer's thread and the posted ticks share. Posted ticks hold it
// weakly, so a tick still queued when the timer is destroyed does nothing.
struct HighPrecisionTimer::Shared {
    std::mutex mutex;
    std::condition_variable condition;
    bool quit = false;
    bool enabled = false;
    bool pending = false;               // a tick was posted and not yet delivered
    unsigned long long generation = 0;  // bumped by every enable, disable and restart
    double periodSeconds = 1.0;
    std::function<double(long long)> schedule;  // playback seconds of tick n, or the period
    double rate = 1.0;                          // playback seconds per real second
    TimerClock::time_point start{};             // real time at which playback stood at startPlayback
    double startPlayback = 0.0;
    long long issued = 0;  // ticks handed over since the count began

    double dueSeconds(long long tick) const
    {
        return schedule ? schedule(tick) : periodSeconds * static_cast<double>(tick);
    }
    double playbackAt(TimerClock::time_point now) const
    {
        return startPlayback + std::chrono::duration<double>(now - start).count() * rate;
    }
    void restartCount(TimerClock::time_point now)
    {
        start = now;
        startPlayback = 0.0;
        issued = 0;
        pending = false;
        ++generation;
    }
    TickHandler handler;
    std::thread thread;
};

HighPrecisionTimer::HighPrecisionTimer(TickDispatcher& dispatcher, TimerClock* clock)
    : dispatcher_(dispatcher), clock_(clock ? *clock : steadyClock_), shared_(std::make_shared<Shared>())
{
    shared_->thread = std::thread([this] { run(); });
}

HighPrecisionTimer::~HighPrecisionTimer()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->quit = true;
        ++shared_->generation;
    }
    shared_->condition.notify_all();
    shared_->thread.join();
}

void HighPrecisionTimer::setHandler(TickHandler handler)
{
    std::lock_guard lock(shared_->mutex);
    shared_->handler = std::move(handler);
}

void HighPrecisionTimer::setPeriod(double seconds)
{
    if (!(seconds > 0.0) || !std::isfinite(seconds)) return;
    {
        std::lock_guard lock(shared_->mutex);
        Shared& s = *shared_;
        if (seconds == s.periodSeconds) return;
        if (s.enabled && !s.schedule) {
            // Tick n stays due at n periods: the playback reached is moved to the same
            // share of the current period under the new one.
            const auto now = clock_.now();
            const double previous = s.periodSeconds * static_cast<double>(s.issued);
            const double share = std::clamp((s.playbackAt(now) - previous) / s.periodSeconds, 0.0, 1.0);
            s.start = now;
            s.startPlayback = (static_cast<double>(s.issued) + share) * seconds;
        }
        s.periodSeconds = seconds;
    }
    shared_->condition.notify_all();
}

void HighPrecisionTimer::setSchedule(std::function<double(long long)> dueSeconds)
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->schedule = std::move(dueSeconds);
        if (shared_->enabled) shared_->restartCount(clock_.now());
    }
    shared_->condition.notify_all();
}

void HighPrecisionTimer::setRate(double rate)
{
    if (!(rate > 0.0) || !std::isfinite(rate)) return;
    {
        std::lock_guard lock(shared_->mutex);
        Shared& s = *shared_;
        if (rate == s.rate) return;
        if (s.enabled) {
            const auto now = clock_.now();
            s.startPlayback = s.playbackAt(now);
            s.start = now;
        }
        s.rate = rate;
    }
    shared_->condition.notify_all();
}

double HighPrecisionTimer::period() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->periodSeconds;
}

void HighPrecisionTimer::enable()
{
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->enabled) return;
        shared_->enabled = true;
        shared_->restartCount(clock_.now());
    }
    shared_->condition.notify_all();
}

void HighPrecisionTimer::disable()
{
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->enabled) return;
        shared_->enabled = false;
        shared_->pending = false;
        ++shared_->generation;
    }
    shared_->condition.notify_all();
}

bool HighPrecisionTimer::enabled() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->enabled;
}

void HighPrecisionTimer::run()
{
    preferPromptWakeups();
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    while (!s.quit) {
        // One tick at a time: the next is not handed over before the owner took this
        // one, so a busy owner is never flooded; the deadlines stay where they were.
        if (!s.enabled || s.pending) {
            s.condition.wait(lock);
            continue;
        }
        // Each deadline is computed from the start, never from the previous tick.
        const double ahead = (s.dueSeconds(s.issued + 1) - s.startPlayback) / s.rate;
        const auto offset =
            std::chrono::round<TimerClock::time_point::duration>(std::chrono::duration<double>(std::max(ahead, 0.0)));
        const auto due = s.start + offset;
        if (clock_.now() < due) {
            clock_.waitUntil(s.condition, lock, due);
            continue;
        }
        TimerTick tick{++s.issued, due, clock_.now()};
        s.pending = true;
        const auto generation = s.generation;
        std::weak_ptr<Shared> weak = shared_;
        lock.unlock();
        dispatcher_.post([this, weak, generation, tick] {
            if (auto alive = weak.lock()) deliver(generation, tick);
        });
        lock.lock();
    }
}

void HighPrecisionTimer::deliver(unsigned long long generation, const TimerTick& tick)
{
    TickHandler handler;
    TimerTick delivered = tick;
    {
        std::lock_guard lock(shared_->mutex);
        if (generation != shared_->generation || !shared_->enabled) return;  // disabled meanwhile
        shared_->pending = false;
        handler = shared_->handler;
        // The ticks that fell due while this one waited for the owner (at most a
        // bounded look ahead: a schedule may hold ticks far in the future).
        const Shared& s = *shared_;
        const double playback = s.playbackAt(clock_.now());
        delivered.lastDue = tick.number;
        for (int ahead = 0; ahead < 100000 && s.dueSeconds(delivered.lastDue + 1) <= playback; ++ahead)
            ++delivered.lastDue;
    }
    shared_->condition.notify_all();
    if (handler) handler(delivered);
}

}  // namespace trajix
