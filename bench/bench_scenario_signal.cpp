// The L1 C/A signal generator: seconds of signal (16368 kHz, one bit per sample) made
// per second of processor time for 8 and 12 satellites, beside real time, and its peak
// memory for a short and a four times longer recording (it must not grow).
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include "scenario/signal_generator.hpp"

namespace {

double maxRssMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

trajix::GeneratorSettings settings(int satellites, long long seconds)
{
    const auto folder = std::filesystem::temp_directory_path();
    {
        std::ofstream nmea(folder / "trajix-bench-still.nme", std::ios::binary);
        nmea << "$GPGGA,090000.00,5159.93280000,N,00059.86662000,W,1,05,2.0,160.00,M,0.0,M,0.0,0000*51\r\n";
    }
    trajix::GeneratorSettings s;
    s.almanacFile = std::filesystem::path(TRAJIX_SOURCE_DIR) / "tests" / "data" / "scenario" / "week314.alm";
    s.nmeaFile = folder / "trajix-bench-still.nme";
    s.week = 2362;
    s.startSeconds = 32380;
    s.durationSeconds = seconds;
    // Every satellite of the almanac counts as in view, so that 12 channels run.
    s.maskDegrees = -90;
    s.maxSatellites = satellites;
    return s;
}

void BM_SignalGenerator(benchmark::State& state)
{
    const int satellites = static_cast<int>(state.range(0));
    const long long seconds = state.range(1);
    for (auto _ : state) {
        trajix::SignalGenerator generator(settings(satellites, seconds));
        std::size_t bytes = 0;
        generator.run([&bytes](const std::uint8_t* data, std::size_t size, long long) {
            benchmark::DoNotOptimize(data);
            bytes += size;
            return true;
        });
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["satellites"] = satellites;
    state.counters["signal_s"] = static_cast<double>(seconds);
    state.counters["peak_rss_MiB"] = maxRssMiB();
}
BENCHMARK(BM_SignalGenerator)
    ->Args({8, 5})
    ->Args({12, 5})
    ->Args({12, 20})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
