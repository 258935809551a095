// trajix kelo INPUT.kel -o OUTPUT: converts a KELO data logger file to NMEA and prints
// the detected rate (and the preview with --preview).
#include <memory>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "cli/date_options.hpp"
#include "common/terminal_progress.hpp"
#include "convert/kelo_import.hpp"

namespace {

struct KeloOptions {
    trajix::convert::KeloParameters parameters;
    trajix::cli::DateOptions dates;
    bool preview = false;
};

void addKelo(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("kelo", "Convert a KELO data logger file (.kel) to an NMEA file");
    auto options = std::make_shared<KeloOptions>();
    auto& p = options->parameters;
    sub->add_option("INPUT", p.inputFileName, "KELO .kel file")->required();
    sub->add_option("-o,--output", p.outputFileName, "NMEA output file (used as given)")->required();
    sub->add_option("--rate", p.sampleRateText, "Output rate in Hz when the log's rate is not detected")
        ->capture_default_str();
    sub->add_flag("--vtg", p.vtg, "Add a VTG sentence to every sample");
    trajix::cli::addDateOptions(sub, options->dates);
    sub->add_option("--stationary-start", p.stationaryPeriodText, "Stationary period at the start, whole seconds")
        ->capture_default_str();
    sub->add_option("--stationary-end", p.stationaryPeriodEndText, "Stationary period at the end, whole seconds")
        ->capture_default_str();
    sub->add_flag("--preview", options->preview, "Print the first 50 samples after the rate");
    sub->callback([&context, options] {
        trajix::cli::TerminalPrompt prompt;
        trajix::TerminalProgress progress;
        options->parameters.dates = trajix::cli::dateSentences(options->dates);
        const auto result = trajix::convert::loadKelFile(options->parameters, prompt, progress);
        fmt::print("{}\n", result.sampleRateText);
        if (options->preview) fmt::print("{}", result.previewText);
        context.exitCode = trajix::cli::exitOk;
    });
}

}  // namespace

TRAJIX_COMMAND(addKelo);
