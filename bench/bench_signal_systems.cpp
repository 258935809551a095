// GPS with Galileo against GPS alone: 8-bit I/Q at 4092 kHz (baseband), every core,
// from the real mixed navigation file of Villafranca (2018-06-19, 07:05 GPS time) with
// the atmosphere on. The mask is opened to every satellite with a valid record and up
// to 15 of each system: GPS with Galileo runs 24 channels (15 GPS, the file's 9 valid
// Galileo ones), GPS alone the same 15 GPS ones. Rows: seconds of signal made per
// second of wall time (goal for GPS with Galileo: 20 or more), the same from processor
// time as the machine's cores would give it unloaded, processor time per second of
// signal, and the peak resident memory of the run itself at 10 s and at 60 s of signal
// (it must not grow with the duration). The load average is printed beside each row.
//
//   build/bench/bench_signal_systems
//   build/bench/bench_signal_systems --benchmark_filter='BM_SignalSystems/1/'
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include "signal/generator.hpp"

namespace {

// A line of /proc/self/status in kB ("VmHWM", "VmRSS"); 0 when absent.
double statusMiB(const std::string& key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1)) / 1024.0;
    return 0;
}

// Lets the peak resident size (VmHWM) start again from the present one, so that a
// row's peak is its own and not that of a longer row before it.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double loadAverage()
{
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

double processSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// 0: GPS alone; 1: GPS and Galileo.
trajix::GeneratorSettings settings(long long systems, long long seconds)
{
    trajix::GeneratorSettings s;
    s.ephemerisFile = std::filesystem::path(TRAJIX_SOURCE_DIR) / "tests" / "data" / "signal" /
                      "VILL00ESP_R_20181700000_0300-1100_GE.rnx";
    s.systems = {trajix::sky::GnssSystem::gps};
    if (systems == 1) s.systems.insert(trajix::sky::GnssSystem::galileo);
    s.maxSatellites = 15;
    s.staticPosition = true;
    s.latitude = 40.4436;
    s.longitude = -3.9521;
    s.altitude = 650;
    s.week = 2006;
    s.startSeconds = 2 * 86400 + 7 * 3600 + 310;
    s.durationSeconds = seconds;
    s.maskDegrees = -90;
    s.format.complex = true;
    s.format.bitsPerSample = 8;
    s.format.rateKHz = 4092;
    s.format.intermediateFrequencyHz = 0;
    s.threads = 0;
    return s;
}

// Arguments: systems (see settings), seconds of signal.
void BM_SignalSystems(benchmark::State& state)
{
    const trajix::GeneratorSettings s = settings(state.range(0), state.range(1));
    const double load = loadAverage();
    double wall = 0, cpu = 0, peak = 0, before = 0;
    std::size_t channels = 0;
    for (auto _ : state) {
        resetPeak();
        before = statusMiB("VmRSS");
        trajix::SignalGenerator generator(s);
        channels = generator.initialSatellites().size();
        std::size_t bytes = 0;
        const double cpuBefore = processSeconds();
        const auto start = std::chrono::steady_clock::now();
        generator.run([&bytes](const std::uint8_t* data, std::size_t size, double) {
            benchmark::DoNotOptimize(data);
            bytes += size;
            return true;
        });
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = processSeconds() - cpuBefore;
        peak = statusMiB("VmHWM");
        benchmark::DoNotOptimize(bytes);
    }
    const auto signal = static_cast<double>(s.durationSeconds);
    state.counters["systems"] = static_cast<double>(state.range(0));
    state.counters["satellites"] = static_cast<double>(channels);
    state.counters["signal_s"] = signal;
    state.counters["threads"] = std::thread::hardware_concurrency();
    state.counters["signal_s_per_wall_s"] = signal / wall;
    // What every core would make with nothing else running (the workers scale to the
    // cores; the planner's share is small).
    state.counters["signal_s_per_idle_cores_s"] = signal * std::thread::hardware_concurrency() / cpu;
    state.counters["cpu_s_per_signal_s"] = cpu / signal;
    state.counters["peak_rss_MiB"] = peak;
    state.counters["run_peak_growth_MiB"] = peak - before;
    state.counters["load_1min"] = load;
}
BENCHMARK(BM_SignalSystems)
    ->ArgNames({"systems", "seconds"})
    ->Args({0, 10})
    ->Args({1, 10})
    ->Args({0, 60})
    ->Args({1, 60})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
