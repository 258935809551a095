// trajix script INPUT -o OUTPUT: runs a motion command script and writes its NMEA file.
#include <memory>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "cli/date_options.hpp"
#include "common/atomic_file.hpp"
#include "common/terminal_progress.hpp"
#include "script/script.hpp"

namespace {

struct ScriptCommandOptions {
    std::string input;
    std::string output;
    trajix::ScriptOptions script;
    trajix::cli::DateOptions dates;
    bool preview = false;
};

// A preview prints the chart points: time, track, height and speed.
class PrintedCharts final : public trajix::ScriptCharts {
public:
    void clear() override { fmt::print("time_s,east_m,north_m,height_m,speed_kmh\n"); }
    void addPoint(const trajix::ScriptChartPoint& p) override
    {
        fmt::print("{:.3f},{:.3f},{:.3f},{:.2f},{:.3f}\n", p.time, p.east, p.north, p.height, p.speedKmh);
    }
};

int run(const ScriptCommandOptions& options)
{
    using namespace trajix;
    if (!options.preview && options.output.empty()) {
        cli::printMessage("error: an output file (-o) is needed unless --preview is given");
        return cli::exitUsage;
    }
    ScriptOptions scriptOptions = options.script;
    scriptOptions.dates = cli::dateSentences(options.dates);
    const auto lines = splitScriptLines(readFile(options.input));
    ScriptState state;
    TerminalProgress progress;
    cli::TerminalPrompt prompt;
    PrintedCharts printed;
    ScriptCharts silent;
    // The core takes the name "preview" for a preview run; a file of that name is
    // still written when asked for.
    std::string target = options.output;
    if (options.preview)
        target = "preview";
    else if (target == "preview")
        target = "./preview";
    const ScriptResult result =
        ConvertCmdFile(state, lines, target, scriptOptions, progress, prompt, options.preview ? printed : silent);
    // Lines that are no command were always allowed; a typo among them is worth a word.
    if (!result.unmatchedLines.empty()) cli::printMessage(unmatchedLinesMessage(result.unmatchedLines));
    switch (result.outcome) {
        case ScriptOutcome::Written:
        case ScriptOutcome::Preview:
            return cli::exitOk;
        case ScriptOutcome::Unachievable:
            cli::printMessage("no NMEA file written: a speed change cannot be achieved");
            return cli::exitFailed;
        case ScriptOutcome::NoMotion:
            return cli::exitFailed;
    }
    return cli::exitFailed;
}

void addScript(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("script", "Run a motion command script and write its trajectory as NMEA");
    auto options = std::make_shared<ScriptCommandOptions>();
    sub->add_option("INPUT", options->input, "Command script file")->required();
    sub->add_option("-o,--output", options->output, "NMEA file to write");
    sub->add_option("--rate", options->script.outputRate, "Output update rate in Hz (default 20)");
    sub->add_option("--max-jerk", options->script.userMaxJerk, "Max jerk of speed changes in g/s (default 1)");
    sub->add_option("--route-jerk", options->script.routeJerk,
                    "Jerk in g/s that climbs use until the first speed change, at least 0.1 (default 2)");
    auto* hdtGll = sub->add_flag("--hdt-gll", options->script.hdtAndGll, "Write GLL and HDT sentences instead of GGA");
    sub->add_flag("--standard-gll", options->script.standardGll,
                  "With --hdt-gll: GLL as NMEA 0183 lays it out (position, time, status A, mode A)")
        ->needs(hdtGll);
    trajix::cli::addDateOptions(sub, options->dates);
    sub->add_flag("--preview", options->preview, "Write no file; print the preview chart points on stdout");
    sub->callback([&context, options] { context.exitCode = run(*options); });
}

}  // namespace

TRAJIX_COMMAND(addScript);
