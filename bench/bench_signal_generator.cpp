// The L1 C/A signal generator, 12 satellites: seconds of signal made per second of wall
// time on one thread and on every core, beside the plain scalar loops on one thread
// (the loops of the generator before it was vectorised and threaded), for one-bit real
// samples at 16368 kHz (the scenario step's recording), 8-bit I/Q at 2.6 MHz and 16-bit
// I/Q at 4 MHz; processor time per second of signal; and peak memory for a short and a
// four times longer recording (it must not grow). BM_WidebandSignal: GPS, Galileo and
// BeiDou in one 18.5 MHz recording, and all four systems at 50 MHz, each beside GPS
// alone at the same rate.
//
//   build/bench/bench_signal_generator                 (every row, about a minute)
//   build/bench/bench_signal_generator --benchmark_filter='BM_SignalGenerator/0/'
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include "signal/generator.hpp"

namespace {

double maxRssMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double processSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

trajix::SampleFormat formatNumber(long long number)
{
    trajix::SampleFormat f;  // 0: the scenario step's one-bit 16368 kHz
    if (number == 1) {
        f.complex = true;
        f.bitsPerSample = 8;
        f.rateKHz = 2600;
        f.intermediateFrequencyHz = 0;
    } else if (number == 2) {
        f.complex = true;
        f.bitsPerSample = 16;
        f.rateKHz = 4000;
        f.intermediateFrequencyHz = 0;
    }
    return f;
}

trajix::GeneratorSettings settings(long long seconds)
{
    trajix::GeneratorSettings s;
    s.almanacFile = std::filesystem::path(TRAJIX_SOURCE_DIR) / "tests" / "data" / "scenario" / "week314.alm";
    s.staticPosition = true;
    s.latitude = 51.99888;
    s.longitude = -0.997777;
    s.altitude = 160;
    s.week = 2362;
    s.startSeconds = 32380;
    s.durationSeconds = seconds;
    // Every satellite of the almanac counts as in view, so that 12 channels run.
    s.maskDegrees = -90;
    s.maxSatellites = 12;
    return s;
}

// Arguments: format (0 one-bit 16368 kHz, 1 8-bit I/Q 2600 kHz, 2 16-bit I/Q 4000 kHz),
// seconds of signal, threads (0: one per core), plain scalar loops (1) or the fast ones.
void BM_SignalGenerator(benchmark::State& state)
{
    trajix::GeneratorSettings s = settings(state.range(1));
    s.format = formatNumber(state.range(0));
    s.threads = static_cast<int>(state.range(2));
    s.referenceLoops = state.range(3) != 0;
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        trajix::SignalGenerator generator(s);
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
        benchmark::DoNotOptimize(bytes);
    }
    const auto signal = static_cast<double>(s.durationSeconds);
    state.counters["format"] = static_cast<double>(state.range(0));
    state.counters["satellites"] = s.maxSatellites;
    state.counters["signal_s"] = signal;
    state.counters["threads"] = s.threads > 0 ? s.threads : std::thread::hardware_concurrency();
    state.counters["reference_loops"] = s.referenceLoops ? 1 : 0;
    state.counters["signal_s_per_wall_s"] = signal / wall;
    state.counters["cpu_s_per_signal_s"] = cpu / signal;
    state.counters["peak_rss_MiB"] = maxRssMiB();
}
BENCHMARK(BM_SignalGenerator)
    ->ArgNames({"format", "seconds", "threads", "reference"})
    ->Args({0, 20, 1, 1})
    ->Args({0, 20, 1, 0})
    ->Args({0, 20, 0, 0})
    ->Args({0, 5, 0, 0})
    ->Args({1, 20, 1, 1})
    ->Args({1, 20, 1, 0})
    ->Args({1, 20, 0, 0})
    ->Args({2, 20, 1, 0})
    ->Args({2, 20, 0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// Wideband recordings beside GPS alone at the same 8-bit I/Q rate about the default
// centre of the systems, every satellite of a real mixed file with a valid set counted
// as in view, at most 12 of each system: GPS, Galileo and BeiDou at 18500 kHz (systems 1; goal
// 3x real time) and all four systems at 50000 kHz (systems 2, 27 satellites;
// goal 1x, so a USRP can be fed live). Seconds of signal per wall second on every
// core, the same from processor time as the cores would give it unloaded, the
// satellites run and the load beside it.
void BM_WidebandSignal(benchmark::State& state)
{
    trajix::GeneratorSettings s;
    s.ephemerisFile = std::filesystem::path(TRAJIX_SOURCE_DIR) / "tests" / "data" / "sky" /
                      "VILL00ESP_R_20181700000_0930-1230_MN.rnx";
    using trajix::sky::GnssSystem;
    s.systems = state.range(0) == 0   ? trajix::SignalSystems{GnssSystem::gps}
                : state.range(0) == 1 ? trajix::SignalSystems{GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou}
                                      : trajix::SignalSystems{GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou,
                                                              GnssSystem::glonass};
    s.staticPosition = true;
    s.latitude = 40.4436;
    s.longitude = -3.9521;
    s.altitude = 650;
    s.week = 2006;
    s.startSeconds = 2 * 86400 + 10.5 * 3600;
    s.durationSeconds = state.range(1);
    s.maskDegrees = -90;
    s.maxSatellites = 12;
    s.format = {true, 8, static_cast<int>(state.range(2)), 0};
    double wall = 0, cpu = 0;
    std::size_t satellites = 0;
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    for (auto _ : state) {
        trajix::SignalGenerator generator(s);
        satellites = generator.initialSatellites().size();
        const double cpuBefore = processSeconds();
        const auto start = std::chrono::steady_clock::now();
        generator.run([](const std::uint8_t* data, std::size_t, double) {
            benchmark::DoNotOptimize(data);
            return true;
        });
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = processSeconds() - cpuBefore;
    }
    const auto signal = static_cast<double>(s.durationSeconds);
    state.counters["systems"] = static_cast<double>(state.range(0));
    state.counters["satellites"] = static_cast<double>(satellites);
    state.counters["signal_s_per_wall_s"] = signal / wall;
    state.counters["signal_s_per_idle_cores_s"] = signal * std::thread::hardware_concurrency() / cpu;
    state.counters["peak_rss_MiB"] = maxRssMiB();
    state.counters["load_1min"] = load;
}
BENCHMARK(BM_WidebandSignal)
    ->ArgNames({"systems", "seconds", "kHz"})
    ->Args({0, 10, 18500})
    ->Args({1, 10, 18500})
    ->Args({0, 4, 50000})
    ->Args({2, 4, 50000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

namespace {

// The street's cost (street 1) beside the open sky (street 0) in one run: a receiver
// standing among the Financial District's towers in Lower Manhattan (place 0) or in
// the open by the Battery Park Underpass's north portal (place 1: two satellites
// blocked), or at a corner of Broadway where six of the ten come with an echo (place 2),
// every GPS satellite of a real day above 5 degrees, 8-bit I/Q at 2600 kHz on every
// core. The street silences some channels (no delays followed) and gives others an
// echo (a second sampling run on the channel's delays).
void BM_StreetSignal(benchmark::State& state)
{
    const std::filesystem::path data = std::filesystem::path(TRAJIX_SOURCE_DIR) / "tests" / "data";
    trajix::GeneratorSettings s;
    s.ephemerisFile = data / "sky" / "brdc1820_0000-0400.10n";
    s.staticPosition = true;
    const double latitudes[] = {40.7062, 40.7087, 40.7085}, longitudes[] = {-74.0125, -74.01535, -74.0105};
    s.latitude = latitudes[state.range(2)];
    s.longitude = longitudes[state.range(2)];
    s.altitude = -20;
    s.week = 1590;
    s.startSeconds = 4 * 86400 + 3600 + 15;
    s.durationSeconds = state.range(1);
    s.maxSatellites = 12;
    s.format = {true, 8, 2600, 0};
    if (state.range(0) != 0) s.buildingsFile = data / "street" / "lower-manhattan-cut.osm";
    double wall = 0, cpu = 0;
    std::size_t satellites = 0, lines = 0;
    for (auto _ : state) {
        trajix::SignalGenerator generator(s, [&lines](const std::string&) { ++lines; });
        satellites = generator.initialSatellites().size();
        const double cpuBefore = processSeconds();
        const auto start = std::chrono::steady_clock::now();
        generator.run([](const std::uint8_t* data, std::size_t, double) {
            benchmark::DoNotOptimize(data);
            return true;
        });
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = processSeconds() - cpuBefore;
    }
    state.counters["street"] = static_cast<double>(state.range(0));
    state.counters["satellites"] = static_cast<double>(satellites);
    state.counters["place"] = static_cast<double>(state.range(2));
    state.counters["street_lines"] = static_cast<double>(lines);
    state.counters["signal_s_per_wall_s"] = static_cast<double>(s.durationSeconds) / wall;
    // Processor time of every thread per second of signal: what a loaded machine's
    // wall time hides.
    state.counters["cpu_s_per_signal_s"] = cpu / static_cast<double>(s.durationSeconds);
}
BENCHMARK(BM_StreetSignal)
    ->ArgNames({"street", "seconds", "place"})
    ->Args({0, 10, 0})
    ->Args({1, 10, 0})
    ->Args({0, 10, 1})
    ->Args({1, 10, 1})
    ->Args({0, 10, 2})
    ->Args({1, 10, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
