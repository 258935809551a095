// The replay timer against the wall clock: ticks at 200 Hz (a 20 Hz file at 10x) and
// 20 Hz for 60 s each, delivered to an owner thread as the window thread would get
// them. Counters, in microseconds:
//   late_*      delivery on the owner thread after the tick's due time (median, p99, max)
//   wake_p99    the timer thread's own wake-up after the due time (p99)
//   drift_last  the last tick's delivery minus n x period from enable()
//   drift_trend median lateness of the last tenth of the ticks minus that of the first
//               tenth: a clock that drifts shows here, one late tick does not
// TRAJIX_BENCH_TIMER_SECONDS shortens the run (default 60).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>

#include "replay/timer.hpp"

namespace {

using Clock = std::chrono::steady_clock;

class OwnerQueue final : public trajix::TickDispatcher {
public:
    void post(std::function<void()> task) override
    {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        condition_.notify_one();
    }
    void runOne()
    {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            condition_.wait(lock, [this] { return !tasks_.empty(); });
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    std::deque<std::function<void()>> tasks_;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

void BM_ReplayTimer(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0));
    double seconds = 60.0;
    if (const char* text = std::getenv("TRAJIX_BENCH_TIMER_SECONDS")) seconds = std::atof(text);
    const auto tickCount = static_cast<long long>(rate * seconds);
    const double period = 1.0 / rate;

    std::vector<double> late;
    std::vector<double> wake;
    double driftLast = 0.0;
    for (auto _ : state) {
        late.clear();
        wake.clear();
        late.reserve(static_cast<std::size_t>(tickCount));
        wake.reserve(static_cast<std::size_t>(tickCount));
        OwnerQueue owner;
        trajix::HighPrecisionTimer timer(owner);
        long long received = 0;
        Clock::time_point lastDelivered;
        timer.setHandler([&](const trajix::TimerTick& tick) {
            const auto now = Clock::now();
            late.push_back(std::chrono::duration<double, std::micro>(now - tick.due).count());
            wake.push_back(std::chrono::duration<double, std::micro>(tick.fired - tick.due).count());
            lastDelivered = now;
            ++received;
        });
        timer.setPeriod(period);
        const auto enabled = Clock::now();
        timer.enable();
        while (received < tickCount) owner.runOne();
        timer.disable();
        driftLast = std::chrono::duration<double, std::micro>(lastDelivered - enabled).count() -
                    static_cast<double>(tickCount) * period * 1e6;
    }
    state.counters["ticks"] = static_cast<double>(late.size());
    state.counters["late_median_us"] = percentile(late, 0.5);
    state.counters["late_p99_us"] = percentile(late, 0.99);
    state.counters["late_max_us"] = late.empty() ? 0.0 : *std::max_element(late.begin(), late.end());
    state.counters["wake_p99_us"] = percentile(wake, 0.99);
    state.counters["drift_last_us"] = driftLast;
    const std::size_t tenth = late.size() / 10;
    if (tenth > 0) {
        const std::vector<double> first(late.begin(), late.begin() + static_cast<std::ptrdiff_t>(tenth));
        const std::vector<double> last(late.end() - static_cast<std::ptrdiff_t>(tenth), late.end());
        state.counters["drift_trend_us"] = percentile(last, 0.5) - percentile(first, 0.5);
    }
}

BENCHMARK(BM_ReplayTimer)->Arg(200)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
