// Logger import and GGA reduction over an hour-long 10 Hz log (36000 rows): the cost
// of reading the number stream and writing GGA + VTG per row.
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "convert/kelo_import.hpp"
#include "convert/nmea_correction.hpp"

namespace {

class SilentPrompt final : public trajix::UserPrompt {
public:
    void information(std::string_view) override {}
    bool askYesNo(std::string_view) override { return true; }
};

std::filesystem::path benchFolder()
{
    const auto folder = std::filesystem::temp_directory_path() / fmt::format("trajix-bench-convert-{}", ::getpid());
    std::filesystem::create_directories(folder);
    return folder;
}

std::filesystem::path makeLog(const std::filesystem::path& folder, int rows)
{
    const auto path = folder / "hour.kel";
    std::ofstream out(path, std::ios::binary);
    out << "[header]\r\nindex\r\ntime\r\nlat\r\nlon\r\nspeed\r\nheading\r\nheight\r\n[channel units]\r\n[data]\r\n";
    out << "0 95958.80 3000 60 0 0 10\r\n1 95958.90 3000 60 0 0 10\r\n2 95959.00 3000 60 0 0 10\r\n";
    for (int i = 0; i < rows; ++i) {
        const int tenths = 95959 * 10 + 1 + i;  // not a real clock past the minute; only the numbers' cost matters
        out << fmt::format("{} {:.2f} {:.5f} {:.5f} {:.1f} {:.2f} 10\r\n", i + 3, tenths / 10.0, 3000 + i * 1e-4,
                           60 - i * 1e-4, 50.0 + i % 7, 90.0 + i % 11);
    }
    return path;
}

void BM_KeloImport(benchmark::State& state)
{
    const auto folder = benchFolder();
    const auto input = makeLog(folder, static_cast<int>(state.range(0)));
    trajix::convert::KeloParameters parameters;
    parameters.inputFileName = input.string();
    parameters.outputFileName = (folder / "hour.nmea").string();
    parameters.vtg = true;
    SilentPrompt prompt;
    trajix::NullProgress progress;
    for (auto _ : state) benchmark::DoNotOptimize(trajix::convert::loadKelFile(parameters, prompt, progress));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(input)));
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_KeloImport)->Arg(36000)->Unit(benchmark::kMillisecond);

void BM_CorrectNmea(benchmark::State& state)
{
    const auto folder = benchFolder();
    const auto input = makeLog(folder, 36000);
    trajix::convert::KeloParameters parameters;
    parameters.inputFileName = input.string();
    parameters.outputFileName = (folder / "hour.txt").string();
    parameters.vtg = true;
    SilentPrompt prompt;
    trajix::NullProgress progress;
    trajix::convert::loadKelFile(parameters, prompt, progress);
    for (auto _ : state)
        benchmark::DoNotOptimize(trajix::convert::correctNmeaFile(parameters.outputFileName, progress));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(parameters.outputFileName)));
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_CorrectNmea)->Unit(benchmark::kMillisecond);

}  // namespace
