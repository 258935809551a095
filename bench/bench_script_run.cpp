// Command scripts: a one-hour drive (40 speed changes, turns and climbs) run and
// written at 20 Hz, and the full search of a speed change that cannot be achieved.
#include <ctime>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <sys/resource.h>
#include <unistd.h>

#include "common/units.hpp"
#include "script/script.hpp"

namespace {

class QuietPrompt final : public trajix::UserPrompt {
public:
    void information(std::string_view) override {}
    bool askYesNo(std::string_view) override { return true; }
};

// 40 blocks of 90 s: a 20 s speed change, a turn, a climb and a cruise.
std::string oneHourScript()
{
    std::string script = "lat=52.2\nlong=0.12\nheight=30\nhdg=10\n";
    for (int k = 0; k < 40; ++k) {
        const int speed = 40 + (k * 37) % 90;
        script += fmt::format("vel={}@20s\n", speed);
        const int turn = (k % 2 ? 1 : -1) * (30 + k);
        if (k % 3 == 0)
            script += fmt::format("hdg={}@{}m\n", turn, 150 + 10 * k);
        else
            script += fmt::format("hdg={}@10s\n", turn);
        script += fmt::format("height={}@15s\n", 30 + (k % 5) * 10);
        script += "wait 45s\n";
    }
    return script + ".end\n";
}

double maxResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024;
}

void BM_ScriptOneHourAt20Hz(benchmark::State& state)
{
    const auto lines = trajix::splitScriptLines(oneHourScript());
    const auto target = std::filesystem::temp_directory_path() / fmt::format("bench_script_{}.nmea", ::getpid());
    trajix::ScriptOptions options;
    trajix::NullProgress progress;
    QuietPrompt prompt;
    trajix::ScriptCharts charts;
    trajix::ScriptResult result;
    std::size_t arrayBytes = 0;
    for (auto _ : state) {
        trajix::ScriptState script;
        result = trajix::ConvertCmdFile(script, lines, target.string(), options, progress, prompt, charts);
        arrayBytes = (script.sampleSpeed.capacity() + script.sampleHeading.capacity() + script.sampleHeight.capacity() +
                      script.sampleEast.capacity() + script.sampleNorth.capacity()) *
                     sizeof(float);
    }
    state.counters["steps"] = static_cast<double>(result.sampleCount - 1);
    state.counters["script_s"] = static_cast<double>(result.sampleCount - 1) * trajix::integrationStep;
    state.counters["sentences"] = static_cast<double>(result.sentences);
    state.counters["arrays_MiB"] = static_cast<double>(arrayBytes) / (1 << 20);
    state.counters["peak_rss_MiB"] = maxResidentMiB();
    std::filesystem::remove(target);
}
BENCHMARK(BM_ScriptOneHourAt20Hz)->Unit(benchmark::kMillisecond)->Iterations(3);

// The peak-acceleration searches, each fast (argument 0) and step by step (argument 1)
// beside each other so that the ratio comes from the same run.
trajix::PeakSearch searchPeak(const benchmark::State& state, double vStart, double vTarget, double amount,
                              bool byDistance, double jerkG)
{
    trajix::NullProgress progress;
    const double jerk = jerkG * trajix::scriptGravity;
    return state.range(0) == 0
               ? trajix::findPeakAcceleration(vStart, vTarget, amount, byDistance, jerk, progress)
               : trajix::findPeakAccelerationStepwise(vStart, vTarget, amount, byDistance, jerk, progress);
}

// 0 to 100 km/h in 1 s at 0.1 g/s: the plain search runs all 100000 iterations.
void BM_ScriptUnachievableSpeedChange(benchmark::State& state)
{
    trajix::PeakSearch search;
    for (auto _ : state) search = searchPeak(state, 0, 100 / trajix::kmhPerMetrePerSecond, 1, false, 0.1);
    state.counters["grid_points"] = static_cast<double>(search.iterations);
    state.counters["found"] = search.found;
}
BENCHMARK(BM_ScriptUnachievableSpeedChange)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

// A typical achievable change: 0 to 100 km/h in 10 s at 1 g/s.
void BM_ScriptPeakSearch0To100In10s(benchmark::State& state)
{
    trajix::PeakSearch search;
    for (auto _ : state) search = searchPeak(state, 0, 100 / trajix::kmhPerMetrePerSecond, 10, false, 1);
    state.counters["grid_points"] = static_cast<double>(search.iterations);
}
BENCHMARK(BM_ScriptPeakSearch0To100In10s)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A change that needs a few thousand grid points: 20 to 80 km/h in 7.5 s at 0.5 g/s.
void BM_ScriptPeakSearch20To80In7s5(benchmark::State& state)
{
    trajix::PeakSearch search;
    for (auto _ : state)
        search =
            searchPeak(state, 20 / trajix::kmhPerMetrePerSecond, 80 / trajix::kmhPerMetrePerSecond, 7.5, false, 0.5);
    state.counters["grid_points"] = static_cast<double>(search.iterations);
}
BENCHMARK(BM_ScriptPeakSearch20To80In7s5)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// By distance, braking: 100 to 0 km/h over 60 m at 0.5 g/s.
void BM_ScriptPeakSearchBrake100In60m(benchmark::State& state)
{
    trajix::PeakSearch search;
    for (auto _ : state) search = searchPeak(state, 100 / trajix::kmhPerMetrePerSecond, 0, 60, true, 0.5);
    state.counters["grid_points"] = static_cast<double>(search.iterations);
    state.counters["found"] = search.found;
}
BENCHMARK(BM_ScriptPeakSearchBrake100In60m)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Every speed change the language accepts ends its search in bounded time: a sweep over
// speeds from 0 to the fastest allowed (100000 km/h), times up to a minute, distances
// up to a minute's travel and jerks from 0.1 to 10 g/s. The figure is the slowest single
// search, in processor time.
double threadSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_ScriptPeakSearchSweep(benchmark::State& state)
{
    const double speeds[] = {0, 1, 30, 100, 1000, 10000, 50000, 99000, 100000};  // km/h
    const double seconds[] = {0.001, 0.1, 1, 10, 30, 60};
    const double jerks[] = {0.1, 1, 10};  // g/s
    trajix::NullProgress progress;
    double worst = 0;
    std::string worstCase;
    long long searches = 0;
    for (auto _ : state) {
        for (const double from : speeds) {
            for (const double to : speeds) {
                if (from == to) continue;
                for (const double jerk : jerks) {
                    for (const double t : seconds) {
                        for (const bool byDistance : {false, true}) {
                            const double vStart = from / trajix::kmhPerMetrePerSecond,
                                         vTarget = to / trajix::kmhPerMetrePerSecond;
                            const double amount = byDistance ? t * (vStart + vTarget) / 2 : t;
                            const double begin = threadSeconds();
                            const auto search = trajix::findPeakAcceleration(vStart, vTarget, amount, byDistance,
                                                                             jerk * trajix::scriptGravity, progress);
                            benchmark::DoNotOptimize(search);
                            const double spent = threadSeconds() - begin;
                            ++searches;
                            if (spent > worst) {
                                worst = spent;
                                worstCase = fmt::format("{}-{} km/h in {:g} {} at {} g/s", from, to, amount,
                                                        byDistance ? "m" : "s", jerk);
                            }
                        }
                    }
                }
            }
        }
    }
    state.counters["worst_ms"] = worst * 1000;
    state.counters["searches"] = static_cast<double>(searches);
    state.SetLabel(worstCase);
}
BENCHMARK(BM_ScriptPeakSearchSweep)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
