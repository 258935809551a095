// trajix scenario NMEA --almanac FILE [--week W] [--start-time S] [--duration S] [--today YYYY-MM-DD] [--yes]:
// the scenario step on a written NMEA file: profile, generator run, .bin recording.
#include <iostream>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "common/terminal_progress.hpp"
#include "scenario/plenarch.hpp"

namespace {

struct Options {
    std::string nmea;
    std::string almanac;
    std::string week = trajix::ScenarioEdits{}.week;
    std::string startTime = trajix::ScenarioEdits{}.startTime;
    std::string duration = trajix::ScenarioEdits{}.duration;
    std::string today;
    bool yes = false;
};

// With --yes the generator's end is the confirmation; otherwise the user presses Enter
// (the end of standard input cancels).
bool confirmFinished(trajix::GeneratorProcess& process, bool assumeYes)
{
    if (assumeYes) {
        const int status = process.wait();
        if (status != 0) trajix::cli::printMessage(fmt::format("TrajixBinary run ended with status {}", status));
        return true;
    }
    fmt::print(stderr,
               "Please WAIT until TrajixBinary has completely finished,\nand then press Enter to continue "
               "(end of input cancels) ");
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) {
        fmt::print(stderr, "\n");
        return false;
    }
    return true;
}

void addScenario(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("scenario",
                                   "Run the signal generator on an NMEA file and convert its output.dsf into NAME.bin");
    auto options = std::make_shared<Options>();
    sub->add_option("NMEA", options->nmea, "The NMEA file")->required();
    sub->add_option("--almanac", options->almanac, "The YUMA almanac file")->required();
    sub->add_option("--week", options->week,
                    fmt::format("GPS week (10-bit) for the profile (default {})", options->week));
    sub->add_option("--start-time", options->startTime,
                    fmt::format("GPS start time, seconds into the week (default {})", options->startTime));
    sub->add_option("--duration", options->duration,
                    fmt::format("Seconds of signal to generate (default {})", options->duration));
    sub->add_option("--today", options->today, "Today's date, YYYY-MM-DD, which dates the almanac week");
    sub->add_flag("--yes", options->yes, "Answer Yes to every question and wait for the generator to end");
    sub->callback([&context, options] {
        trajix::ScenarioEnvironment environment = trajix::defaultScenarioEnvironment();
        if (!options->today.empty()) environment.today = trajix::parseIsoDate(options->today);
        trajix::ScenarioState state;
        state.edits.week = options->week;
        state.edits.startTime = options->startTime;
        state.edits.duration = options->duration;
        // The generator runs in the tool directory: a relative almanac name must not
        // depend on it. Windows texts ("\gpstools\179.alm") are kept as they stand.
        std::filesystem::path almanac = options->almanac;
        if (almanac.is_relative() && options->almanac.find('\\') == std::string::npos &&
            options->almanac.find(':') == std::string::npos)
            almanac = std::filesystem::absolute(almanac);
        state.edits.almanac = almanac.string();

        trajix::cli::TerminalPrompt prompt(options->yes);
        const bool assumeYes = options->yes;
        trajix::ProcessGeneratorRunner runner(
            [assumeYes](trajix::GeneratorProcess& process) { return confirmFinished(process, assumeYes); });
        trajix::TerminalProgress progress;
        if (!trajix::runPlenarch(state, options->nmea, environment, prompt, runner, progress)) {
            trajix::cli::printMessage("no recording made");
            context.exitCode = trajix::cli::exitFailed;
            return;
        }
        fmt::print("{}\n", state.scenarioOutputName);
        context.exitCode = trajix::cli::exitOk;
    });
}

}  // namespace

TRAJIX_COMMAND(addScenario);
