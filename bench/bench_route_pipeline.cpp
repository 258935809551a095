// A Google Earth route from KML to NMEA: a 50 km route with corners at 0.1 m spacing
// (about 500,000 path points) and a 600 km route at 1.0 m spacing. Reports the path
// points, samples and the process's peak resident memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <filesystem>
#include <string>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "route/route.hpp"

namespace {

class QuietPrompt final : public trajix::UserPrompt {
public:
    void information(std::string_view) override {}
    bool askYesNo(std::string_view) override { return true; }
};

// A path of legs of legLength metres starting at 48 N 11 E, turning by the angles
// in turn (degrees, cycling); written as a Google Earth KML file.
std::filesystem::path writeRouteKml(const std::string& name, double totalLength, double legLength,
                                    std::initializer_list<double> turns)
{
    const double metresPerDegreeLat = 111200.0;
    double lat = 48.0, lon = 11.0, heading = 30.0;
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
        "<Document><Placemark><name>bench</name><LineString><coordinates>\n";
    text += fmt::format("{:.7f},{:.7f},0 ", lon, lat);
    auto turn = turns.begin();
    for (double done = 0; done < totalLength; done += legLength) {
        const double rad = heading * 3.141592653589793 / 180;
        lat += legLength * std::cos(rad) / metresPerDegreeLat;
        lon += legLength * std::sin(rad) / (metresPerDegreeLat * std::cos(lat * 3.141592653589793 / 180));
        text += fmt::format("{:.7f},{:.7f},0 ", lon, lat);
        heading += *turn;
        if (++turn == turns.end()) turn = turns.begin();
    }
    text += "\n</coordinates></LineString></Placemark></Document></kml>\n";
    const auto path = std::filesystem::temp_directory_path() / name;
    trajix::writeFileAtomically(path, text);
    return path;
}

void runRoute(benchmark::State& st, const std::filesystem::path& kml)
{
    const auto out = std::filesystem::temp_directory_path() / (kml.stem().string() + "-out.txt");
    trajix::NullProgress progress;
    QuietPrompt prompt;
    trajix::route::RouteParameters parameters;
    parameters.writeVtg = true;
    std::size_t pathPoints = 0;
    std::int64_t samples = 0;
    for (auto _ : st) {
        auto state = trajix::route::LoadKML(kml, parameters, out, progress, prompt);
        pathPoints = state.pathCount;
        samples = state.sampleCount;
        benchmark::DoNotOptimize(state.routeDistance);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    st.counters["path_points"] = static_cast<double>(pathPoints);
    st.counters["samples"] = static_cast<double>(samples);
    st.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    st.counters["nmea_MiB"] = static_cast<double>(std::filesystem::file_size(out)) / (1024.0 * 1024.0);
    std::filesystem::remove(out);
}

void BM_Route50km(benchmark::State& st)
{
    // 1 km legs with corners of 20 to 90 degrees.
    static const auto kml = writeRouteKml("trajix-bench-50km.kml", 50000, 1000, {60, -90, 20, -45, 75, -20});
    runRoute(st, kml);
}

void BM_Route600km(benchmark::State& st)
{
    // 10 km legs with bends of a few degrees: the end lies far beyond 500 km, so 1.0 m spacing.
    static const auto kml = writeRouteKml("trajix-bench-600km.kml", 600000, 10000, {8, -6, 5, -7});
    runRoute(st, kml);
}

}  // namespace

BENCHMARK(BM_Route50km)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route600km)->Unit(benchmark::kMillisecond)->Iterations(1);
