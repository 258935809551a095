// trajix dsf2bin INPUT.dsf [-o OUTPUT] and trajix dropout INPUT.bin --start S --duration D:
// the signal recording tools.
#include <memory>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "common/numbers.hpp"
#include "common/terminal_progress.hpp"
#include "scenario/recording.hpp"

namespace {

struct ConvertOptions {
    std::string input;
    std::string output;
};

void addDsfToBin(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("dsf2bin", "Convert a .dsf signal recording into the .bin form");
    auto options = std::make_shared<ConvertOptions>();
    sub->add_option("INPUT", options->input, "The .dsf recording")->required();
    sub->add_option("-o,--output", options->output, "Output name (default: the input's name ending in \"bin\")");
    sub->callback([&context, options] {
        const std::string output = options->output.empty() ? trajix::binNameFor(options->input) : options->output;
        trajix::TerminalProgress progress;
        trajix::convertDSF(options->input, output, progress);
        fmt::print("Conversion complete\n");
        context.exitCode = trajix::cli::exitOk;
    });
}

struct DropoutOptions {
    std::string input;
    std::string start = "0";
    std::string duration = "0";
};

void addDropout(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub =
        app.add_subcommand("dropout", "Copy a .bin recording to NAME_mod.bin with a stretch of seconds blanked");
    auto options = std::make_shared<DropoutOptions>();
    sub->add_option("INPUT", options->input, "The .bin recording")->required();
    sub->add_option("--start", options->start, "First blanked second; 0 means no dropout (default 0)");
    sub->add_option("--duration", options->duration,
                    "Seconds after the first one that are blanked too: 0 blanks one second (default 0)");
    sub->callback([&context, options] {
        trajix::DropoutRequest request;
        request.input = options->input;
        request.start = trajix::parseInteger(options->start);
        request.duration = trajix::parseInteger(options->duration);
        trajix::TerminalProgress progress;
        const auto output = trajix::createDropouts(request, progress);
        fmt::print("{}\n", output.string());
        context.exitCode = trajix::cli::exitOk;
    });
}

}  // namespace

TRAJIX_COMMAND(addDsfToBin);
TRAJIX_COMMAND(addDropout);
