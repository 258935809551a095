// DSF to BIN on a recording already in the page cache, beside `cp` of the same file
// in the same run. Peak memory (max RSS) must not grow with the file size.
// The files go to $TRAJIX_BENCH_DIR (default: the system's temporary folder).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "common/progress.hpp"
#include "scenario/recording.hpp"

namespace {

std::filesystem::path benchFolder()
{
    const char* folder = std::getenv("TRAJIX_BENCH_DIR");
    return folder && *folder ? std::filesystem::path(folder) : std::filesystem::temp_directory_path();
}

// A recording of sizeMiB mebibytes, written once and read once so it sits in the page cache.
std::filesystem::path recording(long long sizeMiB)
{
    const auto path = benchFolder() / ("trajix-bench-" + std::to_string(sizeMiB) + "MiB.dsf");
    const auto size = static_cast<std::uintmax_t>(sizeMiB) << 20;
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) != size) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::mt19937_64 random(42);
        std::vector<std::uint64_t> chunk(1 << 17);
        for (std::uintmax_t written = 0; written < size; written += chunk.size() * 8) {
            for (auto& word : chunk) word = random();
            out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size() * 8));
        }
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
    }
    return path;
}

double maxRssMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_ConvertDsf(benchmark::State& state)
{
    const auto input = recording(state.range(0));
    const auto output = benchFolder() / "trajix-bench-out.bin";
    trajix::NullProgress progress;
    const double rssBefore = maxRssMiB();
    for (auto _ : state) {
        // Each run creates its output and starts without a backlog of dirty pages from the one before.
        state.PauseTiming();
        std::filesystem::remove(output);
        ::sync();
        state.ResumeTiming();
        trajix::convertDSF(input, output, progress);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(input)));
    state.counters["maxRSS_MiB"] = maxRssMiB();
    state.counters["maxRSS_growth_MiB"] = maxRssMiB() - rssBefore;
    std::filesystem::remove(output);
}
BENCHMARK(BM_ConvertDsf)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_CopyWithCp(benchmark::State& state)
{
    const auto input = recording(state.range(0));
    const auto output = benchFolder() / "trajix-bench-out.cp";
    for (auto _ : state) {
        state.PauseTiming();
        ::sync();
        state.ResumeTiming();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execlp("cp", "cp", input.c_str(), output.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("cp failed");
        // cp replaces nothing atomically; remove so each run creates the file as convertDSF does.
        std::filesystem::remove(output);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(input)));
}
BENCHMARK(BM_CopyWithCp)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
