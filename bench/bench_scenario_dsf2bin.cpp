// DSF to BIN, and the dropout copy, beside `cp` of the same file to a new file, in the
// same run: recordings of 500 MiB and 2 GiB, with the input in the page cache (warm) and
// evicted from it before each run (cold). Runs alternate between the tools, each writes
// a new file, and the fastest of the repetitions is kept for each (wall-clock and
// processor time, the latter counting cp's child process). Peak memory (max RSS) must
// not grow with the file size. The files go to $TRAJIX_BENCH_DIR (default: the system's
// temporary folder) and are removed afterwards.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
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

// A recording of sizeMiB mebibytes of random bytes, named .bin so that the dropout tool takes it.
std::filesystem::path recording(long long sizeMiB)
{
    const auto path = benchFolder() / ("trajix-bench-" + std::to_string(sizeMiB) + "MiB.bin");
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
    return path;
}

// Brings the file into the page cache (warm) or drops its clean pages from it (cold).
void prepareCache(const std::filesystem::path& file, bool warm)
{
    ::sync();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    if (warm) {
        std::vector<char> buffer(1 << 20);
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
    } else {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    ::close(fd);
}

double processorSeconds()
{
    rusage self{}, children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) + seconds(children.ru_stime);
}

double maxRssMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

bool copyWithCp(const std::filesystem::path& input, const std::filesystem::path& output)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("cp", "cp", input.c_str(), output.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Timing {
    double wall = 1e300, processor = 1e300;  // the fastest run, in seconds
};

// Runs each tool `repetitions` times, in turns, each time onto a new output file.
void compare(benchmark::State& state, const std::function<void(const std::filesystem::path&)>& tool,
             const std::filesystem::path& toolOutput)
{
    const long long sizeMiB = state.range(0);
    const bool warm = state.range(1) == 1;
    const int repetitions = sizeMiB > 1024 ? 3 : 5;
    const auto input = recording(sizeMiB);
    const auto cpOutput = benchFolder() / "trajix-bench-out.cp";
    Timing ours, cp;
    const double rssBefore = maxRssMiB();
    for (auto _ : state) {
        for (int k = 0; k < repetitions; ++k) {
            // Each goes first in every other repetition: on this kind of machine the second
            // of two large writes in a row can be slowed by the first.
            for (const bool isCp : {k % 2 == 0, k % 2 != 0}) {
                const auto& output = isCp ? cpOutput : toolOutput;
                std::filesystem::remove(output);
                prepareCache(input, warm);
                const auto start = std::chrono::steady_clock::now();
                const double processorStart = processorSeconds();
                if (isCp) {
                    if (!copyWithCp(input, output)) state.SkipWithError("cp failed");
                } else {
                    tool(input);
                }
                const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                const double processor = processorSeconds() - processorStart;
                Timing& timing = isCp ? cp : ours;
                timing.wall = std::min(timing.wall, wall);
                timing.processor = std::min(timing.processor, processor);
                std::filesystem::remove(output);
            }
        }
    }
    state.counters["wall_ms"] = ours.wall * 1e3;
    state.counters["cpu_ms"] = ours.processor * 1e3;
    state.counters["cp_wall_ms"] = cp.wall * 1e3;
    state.counters["cp_cpu_ms"] = cp.processor * 1e3;
    state.counters["maxRSS_growth_MiB"] = maxRssMiB() - rssBefore;
    state.counters["repetitions"] = repetitions;
}

void BM_ConvertDsf(benchmark::State& state)
{
    const auto output = benchFolder() / "trajix-bench-out.bin";
    trajix::NullProgress progress;
    compare(
        state, [&](const std::filesystem::path& input) { trajix::convertDSF(input, output, progress); }, output);
}
// Arguments: MiB, page cache warm (1) or cold (0).
BENCHMARK(BM_ConvertDsf)->Args({500, 1})->Args({500, 0})->Args({2048, 1})->Args({2048, 0})->Iterations(1);

void BM_CreateDropouts(benchmark::State& state)
{
    const auto output = benchFolder() / ("trajix-bench-" + std::to_string(state.range(0)) + "MiB_mod.bin");
    trajix::NullProgress progress;
    compare(
        state,
        [&](const std::filesystem::path& input) {
            trajix::createDropouts({input, 10, 4}, progress);  // seconds 10 to 14 blanked
        },
        output);
}
BENCHMARK(BM_CreateDropouts)->Args({500, 1})->Args({500, 0})->Iterations(1);

// Removes the recordings once every benchmark has run.
struct Cleanup {
    ~Cleanup()
    {
        for (const long long size : {500, 2048}) {
            std::error_code ec;
            std::filesystem::remove(benchFolder() / ("trajix-bench-" + std::to_string(size) + "MiB.bin"), ec);
        }
    }
} cleanup;

}  // namespace
