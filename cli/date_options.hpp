#pragma once
// The --rmc, --zda, --date, --sky, --mask, --systems and --max-used options shared by
// the commands that write NMEA files, the street's: --buildings and its choices, and the
// receiver's own errors: --receiver-errors and --seed.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "common/error.hpp"
#include "nmea/dates.hpp"
#include "nmea/sky_sentences.hpp"
#include "street/street_choices.hpp"

namespace trajix::cli {

struct DateOptions {
    bool rmc = false;
    bool zda = false;
    std::string date;  ///< YYYY-MM-DD as given; empty for today's UTC date
    std::string sky;   ///< almanac or RINEX navigation file; empty for none
    std::optional<double> mask;
    std::optional<std::string> systems;  ///< "gps,galileo,..." as given
    std::optional<int> maxUsed;
    std::string buildings;  ///< buildings and tunnels file; empty for an open sky
    std::optional<double> defaultBuildingHeight;
    std::optional<std::string> heightAttribute;
    bool railTunnels = false;
    std::optional<double> antennaHeight;
    std::optional<double> reflectionLoss;
    int receiverErrors = 0;  ///< 1 --receiver-errors, -1 --no-receiver-errors (or =false), 0 neither
    std::optional<long long> seed;
};

inline void addDateOptions(CLI::App* sub, DateOptions& options)
{
    sub->add_flag("--rmc", options.rmc, "Write an RMC sentence (date, speed, course) with every sample");
    sub->add_flag("--zda", options.zda, "Write a ZDA sentence (date and time) on every whole second");
    sub->add_option("--date", options.date,
                    "Date of the first sample, YYYY-MM-DD (default: today's UTC date); the times then wrap at "
                    "midnight and the date advances. Needs --rmc, --zda or --sky");
    sub->add_option("--sky", options.sky,
                    "Satellites from a YUMA almanac or a RINEX 2/3/4 navigation file: GGA's satellites and HDOP, "
                    "GSA with every sample and GSV every second from the sky at the file's date, time and place");
    sub->add_option("--mask", options.mask, "Elevation mask of --sky, degrees (default 5)");
    sub->add_option("--systems", options.systems,
                    "Satellite systems of --sky, any of gps,galileo,beidou,glonass (default gps). More than one: "
                    "GGA, RMC, VTG, GLL and ZDA from the talker GN, a GSA per system and each system's own GSV "
                    "(NMEA 4.11); one other than GPS: every sentence from its talker (GA, GB, GL)");
    sub->add_option("--max-used", options.maxUsed,
                    "Satellites in use at most, the highest above the mask over every system of --sky, 1 up to 99 "
                    "(default 12 for GPS alone, 24 for more systems)");
    sub->add_option("--buildings", options.buildings,
                    "Buildings and tunnels around the path (OSM .osm or .osm.pbf, GeoJSON, Shapefile, GeoPackage, any "
                    "coordinate system): satellites they hide are not received (empty SNR in GSV), ones received by a "
                    "reflection only are weaker, and with fewer than 4 in use the fix is lost. Needs --sky");
    sub->add_option("--default-building-height", options.defaultBuildingHeight,
                    "Height of a building with no height and no levels, metres (default 10)");
    sub->add_option("--height-attribute", options.heightAttribute,
                    "The field of --buildings that holds the height in metres (e.g. HEIGHT_ROOF), tried first");
    sub->add_flag("--rail-tunnels", options.railTunnels,
                  "Railway tunnels cover the sky too (a receiver on a train); road tunnels always do");
    sub->add_option("--antenna-height", options.antennaHeight, "Antenna height above the ground, metres (default 1.5)");
    sub->add_option("--reflection-loss", options.reflectionLoss,
                    "How much weaker a reflected signal is, dB (default 6)");
    sub->add_flag("--receiver-errors,!--no-receiver-errors", options.receiverErrors,
                  "Write the position a receiver solves from the satellites in use: their ranges err by the "
                  "reflected paths and echoes of --buildings and by noise that grows as C/N0 falls (alone: under "
                  "an open sky). On by default with --buildings; --no-receiver-errors writes the true position. "
                  "Needs --sky");
    sub->add_option("--seed", options.seed,
                    fmt::format("Seed of the receiver's noise, a whole number from 0 (default {}): the same seed "
                                "writes the same file",
                                defaultReceiverSeed));
}

/// The street of the options, or nothing without --buildings. Usage errors for its
/// choices without --buildings and for --buildings without --sky; Error for a value out
/// of range or a file the reader refuses (its notes go to stderr).
inline std::shared_ptr<const street::StreetModel> streetModel(const DateOptions& options)
{
    const bool anyChoice = options.defaultBuildingHeight || options.heightAttribute || options.railTunnels ||
                           options.antennaHeight || options.reflectionLoss;
    if (options.buildings.empty()) {
        if (anyChoice)
            throw CLI::ValidationError(
                "--default-building-height, --height-attribute, --rail-tunnels, "
                "--antenna-height and --reflection-loss",
                "need --buildings");
        return nullptr;
    }
    if (options.sky.empty()) throw CLI::ValidationError("--buildings", "needs --sky");
    street::StreetReadSummary summary;
    auto street = street::streetModelFor({options.buildings, options.defaultBuildingHeight, options.heightAttribute,
                                          options.railTunnels, options.antennaHeight, options.reflectionLoss},
                                         &summary);
    for (const std::string& note : summary.notes) fmt::print(stderr, "trajix: {}\n", note);
    if (summary.notesDropped > 0)
        fmt::print(stderr, "trajix: {}: {} more features left out\n", options.buildings, summary.notesDropped);
    return street;
}

/// The writers' date sentences from the options. Without --rmc, --zda and --sky the
/// file has no date (its times are printed as before, hours past 24 included); --date
/// alone, and --mask, --systems and --max-used without --sky are usage errors. Throws Error for a date that is not
/// a calendar date, lies before 1980-01-06 or after 2099, and for an unreadable --sky
/// file (what its reader skipped goes to stderr).
inline DateSentences dateSentences(const DateOptions& options)
{
    if (options.buildings.empty()) streetModel(options);  // its choices alone are usage errors
    DateSentences sentences;
    sentences.rmc = options.rmc;
    sentences.zda = options.zda;
    if (options.mask && options.sky.empty()) throw CLI::ValidationError("--mask", "needs --sky");
    if (options.systems && options.sky.empty()) throw CLI::ValidationError("--systems", "needs --sky");
    if (options.maxUsed && options.sky.empty()) throw CLI::ValidationError("--max-used", "needs --sky");
    if (!options.buildings.empty() && options.sky.empty()) throw CLI::ValidationError("--buildings", "needs --sky");
    if (options.receiverErrors > 0 && options.sky.empty())
        throw CLI::ValidationError("--receiver-errors", "needs --sky");
    if (options.seed && options.sky.empty()) throw CLI::ValidationError("--seed", "needs --sky");
    if (!options.rmc && !options.zda && options.sky.empty()) {
        if (!options.date.empty()) throw CLI::ValidationError("--date", "needs --rmc, --zda or --sky");
        return sentences;
    }
    sentences.date = options.date.empty() ? todayUtc() : parseFileDate(options.date);
    if (!options.sky.empty()) {
        // The choices are checked before the file is read.
        if (options.systems) sentences.systems = parseNmeaSystems(*options.systems);
        if (options.maxUsed) {
            if (*options.maxUsed < 1 || *options.maxUsed > maxUsedLimit)
                throw Error(
                    fmt::format("--max-used {} is not a count from 1 up to {}", *options.maxUsed, maxUsedLimit));
            sentences.maxUsed = *options.maxUsed;
        }
        auto model = skyModelFor(options.sky, *sentences.date, sentences.systems);
        for (const std::string& note : model->skipped()) fmt::print(stderr, "trajix: {}: {}\n", options.sky, note);
        sentences.sky = std::move(model);
        sentences.maskDegrees = options.mask.value_or(5.0);
        sentences.street = streetModel(options);
        sentences.receiverErrors = options.receiverErrors > 0 || (options.receiverErrors == 0 && sentences.street);
        if (options.seed && !sentences.receiverErrors)
            throw CLI::ValidationError("--seed", "needs --receiver-errors or --buildings");
        if (options.seed) {
            if (*options.seed < 0) throw Error(fmt::format("--seed {} is not a whole number from 0", *options.seed));
            sentences.seed = static_cast<std::uint64_t>(*options.seed);
        }
        checkDateSentences(sentences);
    }
    return sentences;
}

}  // namespace trajix::cli
