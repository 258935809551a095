// trajix scan FILE [--hdt-gll]: what the "Serial Output" tab shows about a file; remarks
// on a receiver log (times that go back, long gaps) go to stderr.
#include <fmt/format.h>
#include <fmt/std.h>

#include "cli/command.hpp"
#include "common/error.hpp"
#include "replay/scan.hpp"

namespace {

struct ScanOptions {
    std::string file;
    bool hdtGll = false;
};

void addScan(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("scan", "Show the output rate, length, type and replay steps of an NMEA file");
    auto options = std::make_shared<ScanOptions>();
    sub->add_option("FILE", options->file, "NMEA file")->required();
    sub->add_flag("--hdt-gll", options->hdtGll, "Expect a file of GLL and HDT sentences ('HDT and GLL only')");
    sub->callback([&context, options] {
        const auto scan = trajix::scanfile(options->file, options->hdtGll);
        if (!scan) throw trajix::Error(fmt::format("no such file: {}", options->file));
        if (!scan->measured) {
            trajix::cli::printMessage(scan->message);
            context.exitCode = trajix::cli::exitFailed;
            return;
        }
        fmt::print("Output rate (Hz) : {}\n{}\n{}\nSteps : {}\n", scan->rateText, scan->lengthText, scan->typeText,
                   scan->count);
        for (const auto& note : scan->notes) trajix::cli::printMessage(note);
        context.exitCode = trajix::cli::exitOk;
    });
}

}  // namespace

TRAJIX_COMMAND(addScan);
