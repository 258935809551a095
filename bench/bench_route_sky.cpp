// What --sky adds to writing a route: a 50 km route (1 km legs, corners of 20 to 90
// degrees) at 20 Hz written with VTG and RMC, without the sky and with the sky of the
// RINEX 2 test file, and of the almanac. The route is driven once; each iteration is
// saveNMEA alone, the step the sky changes. Goal: the sky adds under 50 % to it.
// And what --buildings adds to the four systems' sky: a 10 km drive at 20 Hz round a
// block of the Financial District (Greenwich Street, Trinity Place, Rector Street,
// Broadway), among the Lower Manhattan buildings of the tests, with the receiver's
// errors as --buildings has them by default, beside the same drive under an open sky.
// Goal: the street adds under 100 %.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "nmea/sky_sentences.hpp"
#include "route/route.hpp"
#include "street/street_choices.hpp"

namespace {

class QuietPrompt final : public trajix::UserPrompt {
public:
    void information(std::string_view) override {}
    bool askYesNo(std::string_view) override { return true; }
};

std::filesystem::path kmlOf(const std::vector<std::pair<double, double>>& points, const std::string& name)
{
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
        "<Document><Placemark><name>bench</name><LineString><coordinates>\n";
    for (const auto& [lat, lon] : points) text += fmt::format("{:.7f},{:.7f},0 ", lon, lat);
    text += "\n</coordinates></LineString></Placemark></Document></kml>\n";
    const auto path = std::filesystem::temp_directory_path() / name;
    trajix::writeFileAtomically(path, text);
    return path;
}

std::filesystem::path writeKml()
{
    const double metresPerDegreeLat = 111200.0;
    double lat = 48.0, lon = 11.0, heading = 30.0;
    std::vector<std::pair<double, double>> points{{lat, lon}};
    const double turns[] = {60, -90, 20, -45, 75, -20};
    int turn = 0;
    for (double done = 0; done < 50000; done += 1000) {
        const double rad = heading * std::numbers::pi / 180;
        lat += 1000 * std::cos(rad) / metresPerDegreeLat;
        lon += 1000 * std::sin(rad) / (metresPerDegreeLat * std::cos(lat * std::numbers::pi / 180));
        points.emplace_back(lat, lon);
        heading += turns[turn++ % 6];
    }
    return kmlOf(points, "trajix-bench-sky-50km.kml");
}

// Eleven times round the block (912 m, OpenStreetMap's street nodes), 10 km in all.
std::filesystem::path writeCityKml()
{
    const std::vector<std::pair<double, double>> block{
        {40.7047334, -74.0150062}, {40.7049117, -74.0149400}, {40.7060963, -74.0144214}, {40.7062925, -74.0143097},
        {40.7071470, -74.0133740}, {40.7077766, -74.0129583}, {40.7074520, -74.0119470}, {40.7067670, -74.0125080},
        {40.7058713, -74.0132406}, {40.7052700, -74.0137920}, {40.7049980, -74.0139850}, {40.7046327, -74.0142203}};
    std::vector<std::pair<double, double>> points;
    for (int round = 0; round < 11; ++round) points.insert(points.end(), block.begin(), block.end());
    points.push_back(block.front());
    return kmlOf(points, "trajix-bench-sky-city-10km.kml");
}

struct Driven {
    trajix::route::RouteState state;
    trajix::route::RouteParameters parameters;
};

Driven drive(const std::filesystem::path& kml, const trajix::CalendarDate& date, int startTime)
{
    Driven result;
    result.parameters.writeVtg = true;
    result.parameters.dates.rmc = true;
    result.parameters.dates.date = date;
    result.parameters.startTime = startTime;
    trajix::NullProgress progress;
    QuietPrompt prompt;
    result.state = trajix::route::LoadKML(kml, result.parameters, {}, progress, prompt);
    return result;
}

Driven& driven()
{
    // 01:00 UTC, inside the RINEX file's sets.
    static Driven d = drive(writeKml(), trajix::CalendarDate{2010, 7, 1}, 3600);
    return d;
}

void writeEach(benchmark::State& st, const Driven& d, const trajix::route::RouteParameters& parameters)
{
    const auto out = std::filesystem::temp_directory_path() / "trajix-bench-sky-out.nmea";
    trajix::NullProgress progress;
    auto state = d.state;
    for (auto _ : st) trajix::route::saveNMEA(state, parameters, out, progress);
    st.counters["samples"] = static_cast<double>(d.state.sampleCount);
    st.counters["nmea_MiB"] = static_cast<double>(std::filesystem::file_size(out)) / (1024.0 * 1024.0);
    std::filesystem::remove(out);
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
    writeEach(st, d, parameters);
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

// The city drive with the four systems of the mixed file at its date (10:30 UTC).
void writeCity(benchmark::State& st, bool street)
{
    static const Driven d = drive(writeCityKml(), trajix::CalendarDate{2018, 6, 19}, 37800);
    auto parameters = d.parameters;
    const auto data = std::filesystem::path(TRAJIX_SOURCE_DIR) / "tests/data";
    parameters.dates.systems = trajix::parseNmeaSystems("gps,galileo,beidou,glonass");
    parameters.dates.sky = trajix::skyModelFor(data / "sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx",
                                               *parameters.dates.date, parameters.dates.systems);
    if (street) {
        static const auto buildings = [&] {
            trajix::street::StreetChoices choices;
            choices.buildings = data / "street/lower-manhattan-cut.osm";
            return trajix::street::streetModelFor(choices);
        }();
        parameters.dates.street = buildings;
        parameters.dates.receiverErrors = true;
    }
    writeEach(st, d, parameters);
}

void BM_City10kmWriteSkyFourSystems(benchmark::State& st)
{
    writeCity(st, false);
}

void BM_City10kmWriteSkyFourSystemsStreet(benchmark::State& st)
{
    writeCity(st, true);
}

}  // namespace

BENCHMARK(BM_Route50kmWrite)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route50kmWriteSkyRinex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route50kmWriteSkyMixedGps)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Route50kmWriteSkyFourSystems)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_City10kmWriteSkyFourSystems)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_City10kmWriteSkyFourSystemsStreet)->Unit(benchmark::kMillisecond)->Iterations(3);
