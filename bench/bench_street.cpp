// The street model: reading the shared Lower Manhattan OSM file (towers, parts and
// tunnels) and a generated city of 100,000 buildings (goal: under 2 s), with the peak
// memory of the process, and lookups: one satellite's direct path, and its whole answer
// with the reflection search, at random outdoor places among the real towers.
// TRAJIX_BENCH_STREET_BUILDINGS sets the generated city's size (1000000 for the million).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <sys/resource.h>

#include "street/street_model.hpp"

namespace {

using namespace trajix::street;

double peakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

const std::filesystem::path sharedCity =
    TRAJIX_SOURCE_DIR "/../shared/data/buildings/osm-api-nyc-lower-manhattan-fidi-tunnels.osm";

std::size_t generatedCount()
{
    const char* text = std::getenv("TRAJIX_BENCH_STREET_BUILDINGS");
    return text ? std::strtoul(text, nullptr, 10) : 100000;
}

/// A GeoJSON city: a grid of L-shaped buildings 30 m apart with heights as strings.
std::filesystem::path generatedCity(std::size_t count)
{
    const auto path = std::filesystem::temp_directory_path() / fmt::format("trajix-bench-street-{}.geojson", count);
    if (std::filesystem::exists(path)) return path;
    std::ofstream out(path);
    out << "{\"type\":\"FeatureCollection\",\"features\":[\n";
    const auto side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(count))));
    const double metreLat = 1 / 111033.0, metreLon = 1 / 84300.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double lat = 40.6 + static_cast<double>(i / side) * 30 * metreLat;
        const double lon = -74.1 + static_cast<double>(i % side) * 30 * metreLon;
        const double w = 20 * metreLon, h = 20 * metreLat;
        out << fmt::format(
            "{}{{\"type\":\"Feature\",\"properties\":{{\"building\":\"yes\",\"height\":\"{:.1f}\"}},"
            "\"geometry\":{{\"type\":\"Polygon\",\"coordinates\":[[[{:.7f},{:.7f}],[{:.7f},{:.7f}],[{:.7f},{:.7f}],"
            "[{:.7f},{:.7f}],[{:.7f},{:.7f}],[{:.7f},{:.7f}],[{:.7f},{:.7f}]]]}}}}\n",
            i ? "," : "", 10.0 + static_cast<double>(i % 37), lon, lat, lon + w, lat, lon + w, lat + h / 2, lon + w / 2,
            lat + h / 2, lon + w / 2, lat + h, lon, lat + h, lon, lat);
    }
    out << "]}\n";
    return path;
}

void BM_StreetReadSharedCity(benchmark::State& state)
{
    std::size_t walls = 0, buildings = 0;
    for (auto _ : state) {
        StreetReadSummary summary;
        const auto model = StreetModel::fromFile(sharedCity, {}, {}, &summary);
        walls = model.walls().size();
        buildings = summary.buildings;
    }
    state.counters["buildings"] = static_cast<double>(buildings);
    state.counters["walls"] = static_cast<double>(walls);
    state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(sharedCity)) / (1024.0 * 1024.0);
    state.counters["peak_rss_MiB"] = peakMiB();
}

void BM_StreetReadGenerated(benchmark::State& state)
{
    const auto file = generatedCity(generatedCount());
    std::size_t buildings = 0;
    for (auto _ : state) {
        StreetReadSummary summary;
        const auto model = StreetModel::fromFile(file, {}, {}, &summary);
        buildings = model.footprints().size();
    }
    state.counters["buildings"] = static_cast<double>(buildings);
    state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
    state.counters["peak_rss_MiB"] = peakMiB();
}

/// Counts what the reader streams and keeps nothing.
class CountingSink final : public StreetSink {
public:
    std::size_t buildings = 0, points = 0;
    void building(BuildingFootprint&& building) override
    {
        ++buildings;
        for (const auto& ring : building.rings) points += ring.size();
    }
    void coveredWay(CoveredWay&&) override {}
    void coveredArea(CoveredArea&&) override {}
};

// The reader alone, keeping nothing: its memory must not grow with the file (run it
// alone, peak_rss_MiB is the process's).
void BM_StreetReadOnly(benchmark::State& state)
{
    const auto file = generatedCity(generatedCount());
    CountingSink sink;
    for (auto _ : state) {
        sink = {};
        readStreet(file, {}, sink);
    }
    state.counters["buildings"] = static_cast<double>(sink.buildings);
    state.counters["points"] = static_cast<double>(sink.points);
    state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
    state.counters["peak_rss_MiB"] = peakMiB();
}

struct Lookups {
    StreetModel model;
    std::vector<Place> places;
};

Lookups& lookups()
{
    static Lookups l = [] {
        Lookups result{StreetModel::fromFile(sharedCity, {}, {}), {}};
        std::mt19937 random(7);
        // Outdoor places among the towers of the Financial District.
        std::uniform_real_distribution<double> lat(40.7040, 40.7085), lon(-74.0150, -74.0080);
        while (result.places.size() < 1000) {
            const auto place = result.model.place(lat(random), lon(random), 0.0);
            if (!result.model.blocked(place.point, 0, 90)) result.places.push_back(place);
        }
        return result;
    }();
    return l;
}

void BM_StreetDirectPath(benchmark::State& state)
{
    auto& l = lookups();
    std::mt19937 random(11);
    std::uniform_real_distribution<double> azimuth(0, 360), elevation(5, 90);
    std::size_t i = 0, blocked = 0, count = 0;
    for (auto _ : state) {
        blocked += l.model.blocked(l.places[i++ % l.places.size()].point, azimuth(random), elevation(random));
        ++count;
    }
    state.counters["blocked_share"] = static_cast<double>(blocked) / static_cast<double>(count);
}

void BM_StreetSatellite(benchmark::State& state)
{
    auto& l = lookups();
    std::mt19937 random(11);
    std::uniform_real_distribution<double> azimuth(0, 360), elevation(5, 90);
    std::size_t i = 0, reflected = 0, count = 0;
    for (auto _ : state) {
        const auto seen = l.model.satellite(l.places[i++ % l.places.size()], azimuth(random), elevation(random));
        reflected += seen.reception == Reception::reflected;
        ++count;
    }
    state.counters["reflected_share"] = static_cast<double>(reflected) / static_cast<double>(count);
}

}  // namespace

BENCHMARK(BM_StreetReadSharedCity)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StreetReadGenerated)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_StreetReadOnly)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_StreetDirectPath)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StreetSatellite)->Unit(benchmark::kMicrosecond);
