// What --sky adds to writing a route: a 50 km route (1 km legs, corners of 20 to 90
// degrees) at 20 Hz written with VTG and RMC, without the sky and with the sky of the
// RINEX 2 test file, and of the almanac. The route is driven once; each iteration is
// saveNMEA alone, the step the sky changes. Goal: the sky adds under 50 % to it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "nmea/sky_sentences.hpp"
#include "route/route.hpp"

namespace {

class QuietPrompt final : public trajix::UserPrompt {
public:
    void information(std::string_view) override {}
    bool askYesNo(std::string_view) override { return true; }
};

std::filesystem::path writeKml()
{
    const double metresPerDegreeLat = 111200.0;
    double lat = 48.0, lon = 11.0, heading = 30.0;
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
        "<Document><Placemark><name>bench</name><LineString><coordinates>\n";
    text += fmt::format("{:.7f},{:.7f},0 ", lon, lat);
    const double turns[] = {60, -90, 20, -45, 75, -20};
    int turn = 0;
    for (double done = 0; done < 50000; done += 1000) {
        const double rad = heading * std::numbers::pi / 180;
        lat += 1000 * std::cos(rad) / metresPerDegreeLat;
        lon += 1000 * std::sin(rad) / (metresPerDegreeLat * std::cos(lat * std::numbers::pi / 180));
        text += fmt::format("{:.7f},{:.7f},0 ", lon, lat);
        heading += turns[turn++ % 6];
    }
    text += "\n</coordinates></LineString></Placemark></Document></kml>\n";
    const auto path = std::filesystem::temp_directory_path() / "trajix-bench-sky-50km.kml";
    trajix::writeFileAtomically(path, text);
    return path;
}

struct Driven {
    trajix::route::RouteState state;
    trajix::route::RouteParameters parameters;
};

Driven& driven()
{
    static Driven d = [] {
        Driven result;
        result.parameters.writeVtg = true;
        result.parameters.dates.rmc = true;
        result.parameters.dates.date = trajix::CalendarDate{2010, 7, 1};
        result.parameters.startTime = 3600;  // 01:00 UTC, inside the RINEX file's sets
        trajix::NullProgress progress;
        QuietPrompt prompt;
        result.state = trajix::route::LoadKML(writeKml(), result.parameters, {}, progress, prompt);
        return result;
    }();
    return d;
}

void write(benchmark::State& st, const std::string& skyFile, const std::string& systems = "gps")
{
    Driven& d = driven();
    auto parameters = d.parameters;
    if (!skyFile.empty()) {
        const auto file = std::filesystem::path(TRAJIX_SOURCE_DIR) / "tests/data" / skyFile;
        parameters.dates.systems = trajix::parseNmeaSystems(systems);
        if (skyFile.find("VILL00ESP") != std::string::npos) {
            // The mixed file's records cover 2018-06-19 09:30 to 12:30 UTC.
            parameters.dates.date = trajix::CalendarDate{2018, 6, 19};
            parameters.startTime = 37800;
        }
        parameters.dates.sky = trajix::skyModelFor(file, *parameters.dates.date, parameters.dates.systems);
    }
    const auto out = std::filesystem::temp_directory_path() / "trajix-bench-sky-out.nmea";
    trajix::NullProgress progress;
    for (auto _ : st) trajix::route::saveNMEA(d.state, parameters, out, progress);
    st.counters["samples"] = static_cast<double>(d.state.sampleCount);
    st.counters["nmea_MiB"] = static_cast<double>(std::filesystem::file_size(out)) / (1024.0 * 1024.0);
    std::filesystem::remove(out);
}

void BM_Route50kmWrite(benchmark::State& st)
{
    write(st, "");
}

void BM_Route50kmWriteSkyRinex(benchmark::State& st)
{
    write(st, "sky/brdc1820_0000-0400.10n");
}

// The mixed file of 2018 with GPS alone and with all four systems: what the other
// three systems add.
void BM_Route50kmWriteSkyMixedGps(benchmark::State& st)
{
    write(st, "sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx", "gps");
}

void BM_Route50kmWriteSkyFourSystems(benchmark::State& st)
{
    write(st, "sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx", "gps,galileo,beidou,glonass");
}

}  // namespace

BENCHMARK(BM_Route50kmWrite)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route50kmWriteSkyRinex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route50kmWriteSkyMixedGps)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route50kmWriteSkyFourSystems)->Unit(benchmark::kMillisecond)->Iterations(3);
