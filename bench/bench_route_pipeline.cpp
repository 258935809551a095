// A Google Earth route from KML to NMEA: a 50 km route with corners at 0.1 m spacing
// (about 500,000 path points) and a 600 km route at 1.0 m spacing. Reports the path
// points, samples and the process's peak resident memory. The 50 km route also runs
// without the lateral limit check, the same steps as LoadKML but that one, so that
// the check's cost is measured beside the pipeline without it.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "route/path_file.hpp"
#include "route/route.hpp"

#include <zip.h>

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
        const double rad = heading * std::numbers::pi / 180;
        lat += legLength * std::cos(rad) / metresPerDegreeLat;
        lon += legLength * std::sin(rad) / (metresPerDegreeLat * std::cos(lat * std::numbers::pi / 180));
        text += fmt::format("{:.7f},{:.7f},0 ", lon, lat);
        heading += *turn;
        if (++turn == turns.end()) turn = turns.begin();
    }
    text += "\n</coordinates></LineString></Placemark></Document></kml>\n";
    const auto path = std::filesystem::temp_directory_path() / name;
    trajix::writeFileAtomically(path, text);
    return path;
}

// LoadKML's steps without holdLateralLimit, the one difference between the two.
trajix::route::RouteState loadWithoutLimitCheck(const std::filesystem::path& kml,
                                                const trajix::route::RouteParameters& parameters,
                                                const std::filesystem::path& out, trajix::ProgressSink& progress,
                                                trajix::UserPrompt& prompt)
{
    using namespace trajix::route;
    RouteState state;
    applyParameters(state, parameters, true);
    const auto paths = readRoutePathFile(kml);
    loadRawPoints(state, choosePath(paths, parameters.path, kml.string()).points, {});
    densifyPath(state, progress);
    smoothPath(state, progress, {});
    calculateDistances(state, progress);
    calculateDeflections(state, progress);
    findCorners(state, progress);
    makeCornersFeasible(state);
    runProfilePass(state, parameters, progress, {}, prompt);
    calculatePositions(state);
    measureAccelerations(state);
    saveNMEA(state, parameters, out, progress);
    return state;
}

void runRoute(benchmark::State& st, const std::filesystem::path& kml, bool limitCheck = true)
{
    const auto out = std::filesystem::temp_directory_path() / (kml.stem().string() + "-out.txt");
    trajix::NullProgress progress;
    QuietPrompt prompt;
    trajix::route::RouteParameters parameters;
    parameters.writeVtg = true;
    std::size_t pathPoints = 0;
    std::int64_t samples = 0;
    std::size_t corners = 0;
    for (auto _ : st) {
        auto state = limitCheck ? trajix::route::LoadKML(kml, parameters, out, progress, prompt)
                                : loadWithoutLimitCheck(kml, parameters, out, progress, prompt);
        pathPoints = state.pathCount;
        samples = state.sampleCount;
        corners = state.corners.size();
        benchmark::DoNotOptimize(state.routeDistance);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    st.counters["path_points"] = static_cast<double>(pathPoints);
    st.counters["samples"] = static_cast<double>(samples);
    st.counters["corners"] = static_cast<double>(corners);
    st.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    st.counters["nmea_MiB"] = static_cast<double>(std::filesystem::file_size(out)) / (1024.0 * 1024.0);
    std::filesystem::remove(out);
}

// 1 km legs with corners of 20 to 90 degrees.
std::filesystem::path route50km()
{
    static const auto kml = writeRouteKml("trajix-bench-50km.kml", 50000, 1000, {60, -90, 20, -45, 75, -20});
    return kml;
}

void BM_Route50km(benchmark::State& st)
{
    runRoute(st, route50km());
}

void BM_Route50kmWithoutLimitCheck(benchmark::State& st)
{
    runRoute(st, route50km(), false);
}

void BM_Route600km(benchmark::State& st)
{
    // 10 km legs with bends of a few degrees: the end lies far beyond 500 km, so 1.0 m spacing.
    static const auto kml = writeRouteKml("trajix-bench-600km.kml", 600000, 10000, {8, -6, 5, -7});
    runRoute(st, kml);
}

// One recorded track of `count` points with heights, as a KML LineString, a GPX track
// (with the time and extension of a bike computer per point) and a KMZ of the KML.
std::filesystem::path writeTrackFile(const std::string& kind, int count)
{
    std::string kml =
        "<?xml version=\"1.0\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document><Placemark>"
        "<name>track</name><LineString><coordinates>\n";
    std::string gpx =
        "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
        "<trk><name>track</name><trkseg>\n";
    double lat = 48.0, lon = 11.0;
    for (int i = 0; i < count; ++i) {
        lat += 0.00001 * std::cos(i / 1000.0);
        lon += 0.00001 * std::sin(i / 1000.0);
        const double height = 500 + i % 100;
        kml += fmt::format("{:.7f},{:.7f},{:.1f}\n", lon, lat, height);
        gpx += fmt::format(
            "<trkpt lat=\"{:.7f}\" lon=\"{:.7f}\"><ele>{:.1f}</ele><time>2024-05-01T10:00:00Z</time>"
            "<extensions><hr>120</hr></extensions></trkpt>\n",
            lat, lon, height);
    }
    kml += "</coordinates></LineString></Placemark></Document></kml>\n";
    gpx += "</trkseg></trk></gpx>\n";
    const auto path = std::filesystem::temp_directory_path() / ("trajix-bench-track." + kind);
    if (kind == "kmz") {
        std::filesystem::remove(path);
        int error = 0;
        zip_t* zip = zip_open(path.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        zip_file_add(zip, "doc.kml", zip_source_buffer(zip, kml.data(), kml.size(), 0), 0);
        zip_close(zip);
    } else {
        trajix::writeFileAtomically(path, kind == "gpx" ? gpx : kml);
    }
    return path;
}

// Reading the paths of a 200,000-point track, as KML (the reference), GPX and KMZ.
void BM_ReadTrackFile(benchmark::State& st)
{
    static const char* kinds[] = {"kml", "gpx", "kmz"};
    const auto file = writeTrackFile(kinds[st.range(0)], 200000);
    std::size_t points = 0;
    for (auto _ : st) {
        const auto paths = trajix::route::readRoutePathFile(file);
        points = paths.front().points.size();
        benchmark::DoNotOptimize(paths.front().points.data());
    }
    st.counters["points"] = static_cast<double>(points);
    st.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
    std::filesystem::remove(file);
}

}  // namespace

BENCHMARK(BM_ReadTrackFile)->Unit(benchmark::kMillisecond)->DenseRange(0, 2)->Iterations(3);
BENCHMARK(BM_Route50km)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route50kmWithoutLimitCheck)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route600km)->Unit(benchmark::kMillisecond)->Iterations(1);
