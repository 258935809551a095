// trajix route INPUT -o OUTPUT: drives a path of a KML, KMZ or GPX file and writes it as
// NMEA; trajix route --list-paths INPUT lists the file's paths.
#include <cstdio>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "cli/date_options.hpp"
#include "common/terminal_progress.hpp"
#include "route/path_file.hpp"
#include "route/route.hpp"

namespace {

struct RouteOptions {
    std::string input;
    std::string output;
    bool listPaths = false;
    trajix::route::RouteParameters parameters;
    trajix::cli::DateOptions dates;
};

int runRoute(const RouteOptions& options)
{
    if (options.listPaths) {
        fmt::print("{}", trajix::route::pathListing(trajix::route::readRoutePathFile(options.input)));
        return trajix::cli::exitOk;
    }
    if (options.output.empty()) throw CLI::RequiredError("--output");
    trajix::TerminalProgress progress;
    trajix::cli::TerminalPrompt prompt;
    auto parameters = options.parameters;
    parameters.dates = trajix::cli::dateSentences(options.dates);
    const auto state = trajix::route::LoadKML(options.input, parameters, options.output, progress, prompt);
    fmt::print("{}\n{}\n", state.distanceText, state.timeText);
    // stdout keeps exactly the two summary lines that scripts read; the accelerations
    // reached go to stderr with the other messages.
    std::fflush(stdout);
    fmt::print(stderr, "{}\n", state.accelerationText);
    return trajix::cli::exitOk;
}

void addRoute(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("route", "Drive a path of a KML, KMZ or GPX file and write it as an NMEA file");
    auto options = std::make_shared<RouteOptions>();
    auto& p = options->parameters;
    sub->add_option("INPUT", options->input, "KML, KMZ or GPX file holding the path")->required();
    auto* output = sub->add_option("-o,--output", options->output, "NMEA file to write (required unless --list-paths)");
    auto* list = sub->add_flag("--list-paths", options->listPaths,
                               "Print the file's paths, one a line: index, name, point count and length in "
                               "metres, separated by tabs; write nothing");
    list->excludes(output);
    sub->add_option("--path", p.path, "The path to drive: its 1-based index or its name (default: the first)")
        ->excludes(list);
    sub->add_flag("--heights", p.heights,
                  "Write each sample's height from the file's altitudes (KML third numbers, GPX ele) instead of the "
                  "fixed altitude")
        ->excludes(list);
    sub->add_option("--rate", p.outputRate, "Output update rate, Hz")->capture_default_str();
    sub->add_flag("--vtg", p.writeVtg, "Write a VTG sentence after every GGA");
    trajix::cli::addDateOptions(sub, options->dates);
    sub->add_option("--speed", p.maxSpeedKmh, "Max speed, km/h")->capture_default_str();
    sub->add_option("--latacc", p.maxLatAccG, "Max lateral acceleration, g")->capture_default_str();
    sub->add_option("--longacc", p.maxLongAccG, "Max longitudinal acceleration, g")->capture_default_str();
    sub->add_option("--jerk", p.maxJerkGs, "Max jerk, g/s (at least 0.1)")->capture_default_str();
    sub->add_option("--smooth", p.smoothFactor, "Position smoothing factor (1 = none)")->capture_default_str();
    sub->add_option("--stationary-start", p.stationaryStart, "Seconds at rest before the motion")
        ->capture_default_str();
    sub->add_option("--stationary-end", p.stationaryEnd, "Seconds at rest after the motion")->capture_default_str();
    sub->add_option("--start-time", p.startTime, "GPS start time, seconds of day")->capture_default_str();
    sub->callback([&context, options] { context.exitCode = runRoute(*options); });
}

}  // namespace

TRAJIX_COMMAND(addRoute);
