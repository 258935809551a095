// trajix correct INPUT: keeps only the GGA lines of an NMEA file, in INPUT without its
// extension + "_mod.txt".
#include <memory>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "common/terminal_progress.hpp"
#include "convert/nmea_correction.hpp"

namespace {

void addCorrect(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("correct", "Reduce an NMEA file to its GGA sentences (written to NAME_mod.txt)");
    auto input = std::make_shared<std::string>();
    sub->add_option("INPUT", *input, "NMEA file")->required();
    sub->callback([&context, input] {
        trajix::TerminalProgress progress;
        const auto result = trajix::convert::correctNmeaFile(*input, progress);
        fmt::print("{}\n", result.finishedText);
        context.exitCode = trajix::cli::exitOk;
    });
}

}  // namespace

TRAJIX_COMMAND(addCorrect);
