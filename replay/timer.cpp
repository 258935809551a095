#include "replay/timer.hpp"

#include <cmath>
#include <thread>

namespace trajix {

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
    TimerClock::time_point start{};
    long long issued = 0;  // ticks handed over since start
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
        if (seconds == shared_->periodSeconds) return;
        shared_->periodSeconds = seconds;
        if (shared_->enabled) {
            shared_->start = clock_.now();
            shared_->issued = 0;
            shared_->pending = false;
            ++shared_->generation;
        }
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
        shared_->start = clock_.now();
        shared_->issued = 0;
        shared_->pending = false;
        ++shared_->generation;
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
        const auto offset = std::chrono::round<TimerClock::time_point::duration>(
            std::chrono::duration<double>(s.periodSeconds * static_cast<double>(s.issued + 1)));
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
    {
        std::lock_guard lock(shared_->mutex);
        if (generation != shared_->generation || !shared_->enabled) return;  // disabled meanwhile
        shared_->pending = false;
        handler = shared_->handler;
    }
    shared_->condition.notify_all();
    if (handler) handler(tick);
}

}  // namespace trajix
