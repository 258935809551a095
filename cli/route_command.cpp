// trajix route INPUT.kml -o OUTPUT: drives a Google Earth path and writes it as NMEA.
#include <memory>
#include <string>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "common/terminal_progress.hpp"
#include "route/route.hpp"

namespace {

struct RouteOptions {
    std::string input;
    std::string output;
    trajix::route::RouteParameters parameters;
};

int runRoute(const RouteOptions& options)
{
    trajix::TerminalProgress progress;
    trajix::cli::TerminalPrompt prompt;
    const auto state = trajix::route::LoadKML(options.input, options.parameters, options.output, progress, prompt);
    fmt::print("{}\n{}\n", state.distanceText, state.timeText);
    return trajix::cli::exitOk;
}

void addRoute(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("route", "Drive a path drawn in Google Earth (KML) and write it as an NMEA file");
    auto options = std::make_shared<RouteOptions>();
    auto& p = options->parameters;
    sub->add_option("INPUT", options->input, "KML file holding the path")->required();
    sub->add_option("-o,--output", options->output, "NMEA file to write")->required();
    sub->add_option("--rate", p.outputRate, "Output update rate, Hz")->capture_default_str();
    sub->add_flag("--vtg", p.writeVtg, "Write a VTG sentence after every GGA");
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
